#pragma once

// Prints the pager prompt and waits for a line on standard input; returns
// when the line ends or the input does.
void wait_for_enter();
