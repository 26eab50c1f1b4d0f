#pragma once

// At a console (standard input and output both terminals): prints the pager
// prompt and waits for a line; returns when the line ends or the input does.
// Elsewhere nothing: the rows go straight through.
void wait_for_enter();
