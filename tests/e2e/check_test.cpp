// -iv and -iv -fix on damaged images built from short descriptions: what the
// check finds, then what the repair keeps, renames and salvages.
#include <algorithm>
#include <filesystem>
#include <functional>

#include <sys/stat.h>

#include "harness.h"

namespace {

// A used slot: NAME.T (split at its last point), first sector and length,
// its data a pattern (none inside the boot area or directory); slot -1 stands
// for the bytes beyond the image's end. `after`: empty when the repair keeps
// it as it is, its new NAME.T when it keeps it renamed, '/' and the host file
// name when it salvages it.
struct Stored {
  int slot;
  std::string name;
  int sector, length;
  std::string after;
};

using Edit = std::function<void(Bytes&)>;
Edit put(std::size_t at, const Bytes& bytes) {
  return [=](Bytes& image) { image.replace(at, bytes.size(), bytes); };
}

// 32 kB, one boot sector, 32 slots: data from sector 9.
Bytes damaged_image(const std::vector<Stored>& files, const std::vector<Edit>& damage) {
  RawImage image;
  for (const Stored& file : files) {
    const std::size_t point = file.name.rfind('.');
    if (file.slot < 0) continue;
    image.slots.push_back({file.slot,
        raw_entry(file.name[point + 1], file.name.substr(0, point), file.sector, 0, file.length)});
    if (file.sector >= 9)
      image.data.push_back({file.sector, pattern_bytes(file.length, file.slot)});
  }
  Bytes bytes = build_raw_image(image);
  for (const Edit& edit : damage) edit(bytes);
  return bytes;
}

std::string lines_of(const std::string& text, const std::string& start) {
  int count = 0;
  for (std::size_t at = 0; (at = ("\n" + text).find("\n" + start, at)) != Bytes::npos; ++at)
    ++count;
  return std::to_string(count);
}

struct DamageCase {
  const char* name;
  std::vector<Stored> files;
  std::vector<Edit> damage;
  std::string findings;      // every line between the first and the totals
  int status, fixed, after;  // of -iv, -iv -fix, and -iv once repaired
  std::string report = {};   // the whole -fix report, when given
  std::vector<std::string> side_files = {};
};
PARAM_FIXTURE(DamageTest, E2eTest, DamageCase);

TEST_P(DamageTest, IsFoundThenRepaired) {
  const DamageCase& c = GetParam();
  const Bytes image = damaged_image(c.files, c.damage);
  write_file("img.vem", image);
  for (const std::string& name : c.side_files) write_file(name, "VEMJRNL2");  // torn
  ::chmod(path("img.vem").c_str(), 0444);  // the check needs no more
  const std::string found = c.findings + "Errors: " + lines_of(c.findings, "error:") +
                            ", warnings: " + lines_of(c.findings, "warning:") + "\n";
  const char* verdict = c.status == 32 ? "Errors found in VEM image 'img.vem'!"
                        : c.status     ? "Warnings found in VEM image 'img.vem'."
                                       : "";
  expect_run(run({"img.vem", "-iv"}, unprivileged()),
      "VEM image check: img.vem\n" + found + (c.status ? "" : "\n"), verdict, c.status);
  expect_bytes(read_file("img.vem"), image);

  // Side files too are as the check found them when the repair starts.
  const RunResult fixed = run({"img.vem", "-iv", "-fix"});
  EXPECT_EQ(fixed.status, c.fixed) << fixed.err;
  EXPECT_EQ(fixed.out.rfind(out_with_banner("VEM image repair: img.vem\n" + found), 0), 0u)
      << fixed.out;
  if (!c.report.empty()) {
    EXPECT_EQ(fixed.out, out_with_banner(c.report));
  }
  EXPECT_EQ(run({"img.vem", "-iv"}).status, c.after);

  // Kept files byte for byte, packed in slot order; salvaged ones with what the image held.
  RawImage repaired;
  repaired.last_sector = (image[14] & 0xFF) | (image[15] & 0xFF) << 8;
  std::vector<std::string> salvaged, beside = {"img.vem"};
  for (const Stored& file : c.files) {
    const std::size_t offset = file.sector * 128u;
    const Bytes held = offset < image.size() ? image.substr(offset, file.length) : "";
    if (file.after.rfind('/', 0) == 0) {
      if (!held.empty()) salvaged.push_back(file.after.substr(1));
      if (!held.empty()) expect_bytes(read_file("img.vem.salvage" + file.after), held);
      continue;
    }
    const std::string name = file.after.empty() ? file.name : file.after;
    const int sector =
        repaired.data.empty()
            ? 9
            : repaired.data.back().first + int(repaired.data.back().second.size() + 127) / 128;
    repaired.slots.push_back({int(repaired.slots.size()),
        raw_entry(name.back(), name.substr(0, name.size() - 2), sector, 0, file.length)});
    repaired.data.push_back({sector, held});
  }
  const bool written = read_file("img.vem") != image;
  if (written) expect_bytes(read_file("img.vem.bak"), image);
  if (written) expect_bytes(read_file("img.vem"), build_raw_image(repaired));
  std::sort(salvaged.begin(), salvaged.end());
  EXPECT_EQ(list_dir("img.vem.salvage"), salvaged);
  if (written) beside.push_back("img.vem.bak");
  if (!salvaged.empty()) beside.push_back("img.vem.salvage");
  EXPECT_EQ(list_dir(), beside);
}

const std::vector<Stored> TWO = {{0, "A.B", 9, 300, ""}, {1, "C.D", 12, 128, ""}};
const std::string REFUSED = ": its name holds a character no name may hold ('.', '*' or '?')\n";
const std::string SHORT =
    "error: image file: the image file is 2036 bytes long, 30732 bytes short of its geometry "
    "(32768 bytes); it ends inside a sector\nerror: slot 1 BIG.B: only 500 of its 1000 bytes are "
    "in the image file\n";
const std::string NAMES = "error: slot 0 a*b.C" + REFUSED +
                          "warning: slot 0 a*b.C: name not in upper case\nwarning: slot 2 game.B: "
                          "name not in upper case\nerror: slot 2 game.B: same name as slot 1\n"
                          "error: slot 4 V.1.B" +
                          REFUSED;
const std::string REPAIRED =
    "Previous image kept as: img.vem.bak\nRepaired image:\nErrors: 0, warnings: 0\n\n";
const std::string PACKED_AT = ", where files packed in slot order would put it at sector ";
const std::string SIDE_FILES =
    "warning: img.vem.jnl: stale journal, never acted on; the next command that opens the image "
    "removes it\nwarning: img.vem.new-Ab12Cd: new image of an -ic or -ir that was cut short; the "
    "next -ic, -ir or -iv -fix removes it\n";
const Bytes LOADER = Bytes("\xC3\x00\x7FPPIC     CGAME    \xFF\xFF\x00", 24);

INSTANTIATE_TEST_SUITE_P(Check, DamageTest,
    ::testing::Values(
        DamageCase{"Clean", TWO, {}, "", 0, 0, 0,
            "VEM image repair: img.vem\nErrors: 0, warnings: 0\nNothing to repair.\n\n"},
        DamageCase{"BadSignature", TWO, {put(1, "\x01")},
            "error: header: no VEM boot signature (CD 00 8C 10 00 at byte 0, C3 at byte 9)\n", 32,
            32, 32},
        DamageCase{"GeometryOutOfRange", TWO, {put(13, "\x41")},
            "error: header: geometry out of range: 1 boot sectors, 65 directory sectors, last "
            "sector 255\n",
            32, 32, 32},
        DamageCase{"CutInTheDirectory", {{0, "A.B", 9, 300, "/A__0_0.B"}},
            {[](Bytes& image) { image.resize(168); }},
            "error: image file: the image file is 168 bytes long, 32600 bytes short of its "
            "geometry (32768 bytes); it ends inside a sector\nerror: slot 0 A.B: only 0 of its "
            "300 bytes are in the image file\nerror: slots 1-31: beyond the end of the image "
            "file\n",
            32, 0, 0},
        DamageCase{"CutInAFile", {{0, "A.B", 9, 300, ""}, {1, "BIG.B", 12, 1000, "/BIG__0_0.B"}},
            {[](Bytes& image) { image.resize(2036); }}, SHORT, 32, 0, 0,
            "VEM image repair: img.vem\n" + SHORT +
                "Errors: 2, warnings: 0\nSalvaged: slot 1 BIG.B: 500 of 1000 bytes -> "
                "img.vem.salvage/BIG__0_0.B\nLengthened: the image file from 2036 to 32768 "
                "bytes\n" +
                REPAIRED},
        // Two header warnings, in the order they are found.
        DamageCase{"OddSizeNoSlots", {},
            {put(13, Bytes("\x00\x2C\x01", 3)), put(128, Bytes(8 * 128, '\xFF')),
                [](Bytes& image) { image.resize(301 * 128, '\xFF'); }},
            "warning: header: image size 37.625 kB is not one the tool makes (32 to 8192 kB in "
            "steps of 32 kB)\nwarning: header: the directory has no slots\n",
            31, 0, 31},
        DamageCase{"Names",
            {{0, "a*b.C", 9, 10, "A_B.C"}, {1, "GAME.B", 10, 10, ""},
                {2, "game.B", 11, 10, "GAME2.B"}, {3, "GAME1.B", 12, 10, ""},
                {4, "V.1.B", 13, 10, "V_1.B"}},
            {}, NAMES, 32, 0, 0,
            "VEM image repair: img.vem\n" + NAMES +
                "Errors: 3, warnings: 2\nRenamed: slot 0 a*b.C -> A_B.C\nRenamed: slot 2 game.B -> "
                "GAME2.B\nRenamed: slot 4 V.1.B -> V_1.B\n" +
                REPAIRED},
        // Salvaged: a file that begins inside the directory, one that runs past
        // the last sector, and the bytes beyond the end that are no fill.
        DamageCase{"OutsideTheDataArea",
            {TWO[0], {1, "DIR.B", 5, 200, "/DIR__0_0.B"}, {2, "END.B", 254, 1000, "/END__0_0.B"},
                {-1, "", 256, 744, "/beyond-end.bin"}},
            {},
            "error: slot 1 DIR.B: its data begins at sector 5, inside the directory (data begins "
            "at sector 9)\nwarning: slot 1 DIR.B: at sector 5" +
                PACKED_AT +
                "12\nerror: slot 2 END.B: its data (sectors 254-261) runs past the last sector of "
                "the image, 255\nwarning: image file: 744 bytes beyond the end of the image, not "
                "all 0xFF; the file is no whole number of sectors\n",
            32, 0, 0},
        // The format's hygiene: used slots not first, a file not where packing
        // puts it, fill bytes that are not the fill, 0xFF beyond the end.
        DamageCase{"Hygiene", {{0, "A.B", 9, 100, ""}, {2, "B.B", 11, 1, ""}},
            {put(128 + 32 + 5, Bytes(1, '\0')), put(128 + 96, Bytes(64, '\0')),
                put(9 * 128 + 100, Bytes(1, '\0')), put(20 * 128, "xx"), put(21 * 128 + 127, "x"),
                put(23 * 128, "x"), put(32768, Bytes(256, '\xFF'))},
            "warning: slot 0 A.B: bytes 100-127 of its last sector, 9, are not 0xFF\nwarning: slot "
            "1: free, but not wholly 0xE5\nwarning: slot 2 B.B: used, after the free slot 1 (used "
            "slots do not come first)\nwarning: slot 2 B.B: at sector 11" +
                PACKED_AT +
                "10\nwarning: slots 3-4: neither used nor 0xE5 (read as free)\nwarning: sectors "
                "20-21: free, but not 0xFF\nwarning: sector 23: free, but not 0xFF\nwarning: image "
                "file: 256 bytes beyond the end of the image, all 0xFF\n",
            31, 0, 0},
        // 512 kB: a dirty sector far into a free run, past the first piece read.
        DamageCase{"DirtyFarIntoTheFreeSpace", TWO,
            {put(14, "\xFF\x0F"), [](Bytes& image) { image.resize(4096 * 128, '\xFF'); },
                put(4000 * 128, "x")},
            "warning: sector 4000: free, but not 0xFF\n", 31, 0, 0},
        DamageCase{"LoaderNamesAMissingFile",
            {{0, "LOADER.L", 9, 40, ""}, {1, "GAME.C", 10, 10, ""}},
            {put(128 + 11, Bytes("\x00\x7F\x28\x00\x01", 5)), put(9 * 128, LOADER)},
            "warning: slot 0 LOADER.L: Loader names the picture file PIC.P, which the image does "
            "not hold\n",
            31, 0, 31},
        // The text's in-place rewrite of a delete of A (200 bytes at 9) from A, B (300 at
        // 11), C (100 at 14), cut short after slot 0: two B overlap, all files of an overlap go.
        DamageCase{"OverlapLeftByACutRewrite",
            {{0, "B.B", 9, 300, "/B__0_0.B"}, {1, "B.B", 11, 300, "/B1__0_0.B"},
                {2, "C.C", 14, 100, ""}},
            {},
            "error: slot 0 B.B: overlaps slot 1 B.B (sector 11)\nerror: slot 1 B.B: same name as "
            "slot 0\nerror: slot 1 B.B: overlaps slot 0 B.B (sector 11)\nwarning: slot 1 B.B: at "
            "sector 11" +
                PACKED_AT + "12\n",
            32, 0, 0},
        // ... cut short after the directory and B's data: C's sector and the free ones are old.
        DamageCase{"DataLeftOldByACutRewrite", {{0, "B.B", 9, 300, ""}, {1, "C.C", 12, 100, ""}},
            {put(12 * 128, pattern_bytes(300, 0).substr(128)), put(14 * 128, "C's data")},
            "warning: slot 1 C.C: bytes 100-127 of its last sector, 12, are not 0xFF\n"
            "warning: sectors 13-14: free, but not 0xFF\n",
            31, 0, 0},
        DamageCase{"StaleSideFiles", TWO, {}, SIDE_FILES, 31, 0, 0,
            "VEM image repair: img.vem\n" + SIDE_FILES +
                "Errors: 0, warnings: 2\nRemoved: img.vem.jnl (never acted on)\nRemoved: "
                "img.vem.new-Ab12Cd (stale)\nRepaired image:\nErrors: 0, warnings: 0\n\n",
            {"img.vem.jnl", "img.vem.new-Ab12Cd"}}),
    CaseName());

using CheckTest = E2eTest;

// A repair never overwrites a backup or a salvage folder, and a write that
// fails anywhere in it (the salvage of the bytes beyond the image's end
// included) fails it and leaves the image as it was.
TEST_F(CheckTest, RepairThatCannotFinishChangesNothing) {
  const Bytes image = damaged_image(TWO, {}) + Bytes(744, 'x');
  write_file("img.vem", image);
  for (const std::string taken : {"img.vem.bak", "img.vem.salvage"}) {
    write_file(taken, "mine");
    expect_run(run({"img.vem", "-iv", "-fix"}), "-",
        "Can't access output file '" + taken + "' for writing!", 13);
    ::unlink(path(taken).c_str());
  }
  Fault fail{FaultKind::fail, FaultCalls::writes, 1};
  for (RunResult result; (result = run_inside({"img.vem", "-iv", "-fix"}, fail)).status != 0;) {
    EXPECT_EQ(result.status, 14);
    expect_bytes(read_file("img.vem"), image);
    EXPECT_EQ(list_dir(), Args{"img.vem"});
    ++fail.at;
  }
  EXPECT_GT(fail.at, 1);
  EXPECT_EQ(read_file("img.vem.salvage/beyond-end.bin"), Bytes(744, 'x'));
}

// A change killed half-way: the check reports its journal and leaves it, a
// repair rolls the image back first.
TEST_F(CheckTest, HalfDoneChangeIsReportedThenRolledBack) {
  const Bytes old = damaged_image({{0, "A.B", 9, 300, ""}, {1, "B.B", 12, 10, ""}}, {});
  write_file("img.vem", old);
  for (Fault kill{FaultKind::kill, FaultCalls::changes, 1}; read_file("img.vem") == old;
       ++kill.at) {
    write_file("img.vem", old);
    run_inside({"img.vem", "-fd", "A.B"}, kill);
  }
  expect_run(run({"img.vem", "-iv"}),
      "VEM image check: img.vem\nwarning: sectors 10-12: free, but not 0xFF\nerror: img.vem.jnl: "
      "journal of a change left half-done (1 changes); it rolls back cleanly, and the next "
      "command that opens the image does so first\nErrors: 1, warnings: 1\n",
      "Errors found in VEM image 'img.vem'!", 32);
  EXPECT_NE(
      run({"img.vem", "-iv", "-fix"}).out.find("Rolled back: img.vem.jnl"), std::string::npos);
  expect_bytes(read_file("img.vem"), old);
  EXPECT_EQ(list_dir(), std::vector<std::string>{"img.vem"});
}

}  // namespace
