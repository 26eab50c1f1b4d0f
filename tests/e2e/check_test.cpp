// -iv and -iv -fix on damaged images built from short descriptions: what the
// check finds, then what the repair keeps, renames and salvages.
#include <algorithm>
#include <functional>

#include "harness.h"

namespace {

// A used slot: NAME.T (split at its last point), first sector and length,
// its data a pattern (none inside the boot area or directory). `after`:
// empty when the repair keeps it as it is, its new NAME.T when it keeps it
// renamed, '/' and the host file name when it salvages it.
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
Edit cut_to(std::size_t length) {
  return [=](Bytes& image) { image.resize(length); };
}
Edit both(const Edit& first, const Edit& second) {
  return [=](Bytes& image) { first(image), second(image); };
}

// 32 kB, one boot sector, 32 slots: data from sector 9.
Bytes damaged_image(const std::vector<Stored>& files, const Edit& damage) {
  RawImage image;
  for (const Stored& file : files) {
    const std::size_t point = file.name.rfind('.');
    image.slots.push_back({file.slot,
        raw_entry(file.name[point + 1], file.name.substr(0, point), file.sector, 0, file.length)});
    if (file.sector >= 9)
      image.data.push_back({file.sector, pattern_bytes(file.length, file.slot)});
  }
  Bytes bytes = build_raw_image(image);
  if (damage) damage(bytes);
  return bytes;
}

int lines_of(const std::string& text, const std::string& start) {
  int count = text.compare(0, start.size(), start) == 0 ? 1 : 0;
  for (std::size_t at = 0; (at = text.find("\n" + start, at)) != std::string::npos; ++at) ++count;
  return count;
}

struct DamageCase {
  const char* name;
  std::vector<Stored> files;
  Edit damage;
  std::string findings;      // every line between the first and the totals
  int status, fixed, after;  // of -iv, -iv -fix, and -iv once repaired
  std::string report = {};   // the whole -fix report, when given
};
PARAM_FIXTURE(DamageTest, E2eTest, DamageCase);

TEST_P(DamageTest, IsFoundThenRepaired) {
  const DamageCase& c = GetParam();
  const Bytes image = damaged_image(c.files, c.damage);
  write_file("img.vem", image);
  make_dir("out");
  const std::string found =
      c.findings + "Errors: " + std::to_string(lines_of(c.findings, "error:")) +
      ", warnings: " + std::to_string(lines_of(c.findings, "warning:")) + "\n";
  const char* verdict = c.status == 32 ? "Errors found in VEM image 'img.vem'!"
                        : c.status     ? "Warnings found in VEM image 'img.vem'."
                                       : "";
  expect_run(run({"img.vem", "-iv"}), "VEM image check: img.vem\n" + found + (c.status ? "" : "\n"),
      verdict, c.status);
  expect_bytes(read_file("img.vem"), image);

  const RunResult fixed = run({"img.vem", "-iv", "-fix"});
  EXPECT_EQ(fixed.status, c.fixed) << fixed.err;
  EXPECT_EQ(fixed.out.rfind(out_with_banner("VEM image repair: img.vem\n" + found), 0), 0u)
      << fixed.out;
  if (!c.report.empty()) {
    EXPECT_EQ(fixed.out, out_with_banner(c.report));
  }
  const bool written = read_file("img.vem") != image;
  if (written) expect_bytes(read_file("img.vem.bak"), image);
  EXPECT_EQ(run({"img.vem", "-iv"}).status, c.after);

  // Kept files byte for byte as the image held them; salvaged ones with what it held.
  std::vector<std::string> salvaged, beside = {"img.vem", "out"};
  for (const Stored& file : c.files) {
    const std::size_t offset = file.sector * 128u;
    const Bytes held = offset < image.size() ? image.substr(offset, file.length) : "";
    if (!file.after.empty() && file.after[0] == '/') {
      if (held.empty()) continue;
      salvaged.push_back(file.after.substr(1));
      expect_bytes(read_file("img.vem.salvage" + file.after), held, Layout::plain);
    } else if (written) {
      const std::string name = file.after.empty() ? file.name : file.after;
      EXPECT_EQ(run({"img.vem", "-fx", "out/" + name}).status, 0) << name;
      expect_bytes(read_file("out/" + name), held, Layout::plain);
    }
  }
  const Bytes beyond = image.size() > 32768 ? image.substr(32768) : "";
  if (beyond.find_first_not_of('\xFF') != Bytes::npos) {
    salvaged.push_back("beyond-end.bin");
    expect_bytes(read_file("img.vem.salvage/beyond-end.bin"), beyond, Layout::plain);
  }
  std::sort(salvaged.begin(), salvaged.end());
  EXPECT_EQ(list_dir("img.vem.salvage"), salvaged);
  if (written) beside.push_back("img.vem.bak");
  if (!salvaged.empty()) beside.push_back("img.vem.salvage");
  std::sort(beside.begin(), beside.end());
  EXPECT_EQ(list_dir(), beside);
}

const std::vector<Stored> TWO = {{0, "A.B", 9, 300, ""}, {1, "C.D", 12, 128, ""}};
const std::string NAME_REFUSED = ": its name holds a character no name may hold ('.', '*' or '?')";
const std::string SHORT =
    "error: image file: the image file is 2036 bytes long, 30732 bytes short of its geometry "
    "(32768 bytes); it ends inside a sector\nerror: slot 1 BIG.B: only 500 of its 1000 bytes are "
    "in the image file\n";
const std::string NAMES = "error: slot 0 a*b.C" + NAME_REFUSED +
                          "\nwarning: slot 0 a*b.C: name not in upper case\n"
                          "warning: slot 2 game.B: name not in upper case\n"
                          "error: slot 2 game.B: same name as slot 1\nerror: slot 4 V.1.B" +
                          NAME_REFUSED + "\n";
const std::string REPAIRED =
    "Previous image kept as: img.vem.bak\nRepaired image:\nErrors: 0, warnings: 0\n\n";
const Bytes LOADER = Bytes("\xC3\x00\x7FPPIC     CGAME    \xFF\xFF\x00", 24);

INSTANTIATE_TEST_SUITE_P(Check, DamageTest,
    ::testing::Values(
        DamageCase{"Clean", TWO, nullptr, "", 0, 0, 0,
            "VEM image repair: img.vem\nErrors: 0, warnings: 0\nNothing to repair.\n\n"},
        DamageCase{"BadSignature", TWO, put(1, "\x01"),
            "error: header: no VEM boot signature (CD 00 8C 10 00 at byte 0, C3 at byte 9)\n", 32,
            32, 32,
            "VEM image repair: img.vem\nerror: header: no VEM boot signature (CD 00 8C 10 00 at "
            "byte 0, C3 at byte 9)\nErrors: 1, warnings: 0\nNothing a repair can mend.\n"},
        DamageCase{"GeometryOutOfRange", TWO, put(13, "\x41"),
            "error: header: geometry out of range: 1 boot sectors, 65 directory sectors, last "
            "sector 255\n",
            32, 32, 32},
        DamageCase{"CutInTheBootArea", TWO, cut_to(100),
            "error: image file: the image file is 100 bytes long and ends inside the boot area "
            "(128 bytes)\n",
            32, 32, 32},
        DamageCase{"CutInTheDirectory", {{0, "A.B", 9, 300, "/A__0_0.B"}}, cut_to(168),
            "error: image file: the image file is 168 bytes long, 32600 bytes short of its "
            "geometry (32768 bytes); it ends inside a sector\nerror: slot 0 A.B: only 0 of its "
            "300 bytes are in the image file\nerror: slots 1-31: beyond the end of the image "
            "file\n",
            32, 0, 0},
        DamageCase{"CutInAFile", {{0, "A.B", 9, 300, ""}, {1, "BIG.B", 12, 1000, "/BIG__0_0.B"}},
            cut_to(2036), SHORT, 32, 0, 0,
            "VEM image repair: img.vem\n" + SHORT +
                "Errors: 2, warnings: 0\nSalvaged: slot 1 BIG.B: 500 of 1000 bytes -> "
                "img.vem.salvage/BIG__0_0.B\nLengthened: the image file from 2036 to 32768 "
                "bytes\n" +
                REPAIRED},
        DamageCase{"FillBeyondTheEnd", TWO, put(32768, Bytes(256, '\xFF')),
            "warning: image file: 256 bytes beyond the end of the image, all 0xFF\n", 31, 0, 0},
        DamageCase{"DataBeyondTheEnd", TWO, put(32768, "extra"),
            "warning: image file: 5 bytes beyond the end of the image, not all 0xFF; the file is "
            "no whole number of sectors\n",
            31, 0, 0},
        DamageCase{"FreeSlotsNotFill", TWO,
            both(put(128 + 64 + 5, Bytes(1, '\0')), put(128 + 96, Bytes(64, '\0'))),
            "warning: slot 2: free, but not wholly 0xE5\n"
            "warning: slots 3-4: neither used nor 0xE5 (read as free)\n",
            31, 0, 0},
        DamageCase{"Names",
            {{0, "a*b.C", 9, 10, "A_B.C"}, {1, "GAME.B", 10, 10, ""},
                {2, "game.B", 11, 10, "GAME2.B"}, {3, "GAME1.B", 12, 10, ""},
                {4, "V.1.B", 13, 10, "V_1.B"}},
            nullptr, NAMES, 32, 0, 0,
            "VEM image repair: img.vem\n" + NAMES +
                "Errors: 3, warnings: 2\nRenamed: slot 0 a*b.C -> A_B.C\nRenamed: slot 2 game.B -> "
                "GAME2.B\nRenamed: slot 4 V.1.B -> V_1.B\n" +
                REPAIRED},
        DamageCase{"InTheDirectory", {TWO[0], {1, "DIR.B", 5, 200, "/DIR__0_0.B"}}, nullptr,
            "error: slot 1 DIR.B: its data begins at sector 5, inside the directory (data begins "
            "at sector 9)\nwarning: slot 1 DIR.B: at sector 5, where files packed in slot order "
            "would put it at sector 12\n",
            32, 0, 0},
        DamageCase{"PastTheEnd", {TWO[0], {1, "END.B", 254, 1000, "/END__0_0.B"}}, nullptr,
            "error: slot 1 END.B: its data (sectors 254-261) runs past the last sector of the "
            "image, 255\nwarning: slot 1 END.B: at sector 254, where files packed in slot order "
            "would put it at sector 12\nwarning: image file: 744 bytes beyond the end of the "
            "image, not all 0xFF; the file is no whole number of sectors\n",
            32, 0, 0},
        DamageCase{"Overlapping",
            {{0, "A.B", 9, 300, "/A__0_0.B"}, {1, "B.B", 10, 200, "/B__0_0.B"},
                {2, "C.C", 12, 50, ""}},
            nullptr,
            "error: slot 0 A.B: overlaps slot 1 B.B (sectors 10-11)\nerror: slot 1 B.B: overlaps "
            "slot 0 A.B (sectors 10-11)\nwarning: slot 1 B.B: at sector 10, where files packed in "
            "slot order would put it at sector 12\n",
            32, 0, 0},
        DamageCase{"NotPacked", {{0, "A.B", 9, 100, ""}, {2, "B.B", 11, 100, ""}}, nullptr,
            "warning: slot 2 B.B: used, after the free slot 1 (used slots do not come first)\n"
            "warning: slot 2 B.B: at sector 11, where files packed in slot order would put it at "
            "sector 10\n",
            31, 0, 0},
        DamageCase{"FillBytes", {{0, "A.B", 9, 100, ""}},
            both(both(put(9 * 128 + 100, Bytes(1, '\0')), put(20 * 128, "xx")),
                both(put(21 * 128 + 127, "x"), put(23 * 128, "x"))),
            "warning: slot 0 A.B: bytes 100-127 of its last sector, 9, are not 0xFF\n"
            "warning: sectors 20-21: free, but not 0xFF\nwarning: sector 23: free, but not 0xFF\n",
            31, 0, 0},
        DamageCase{"LoaderNamesAMissingFile",
            {{0, "LOADER.L", 9, 40, ""}, {1, "GAME.C", 10, 10, ""}},
            both(put(128 + 11, Bytes("\x00\x7F\x28\x00\x01", 5)), put(9 * 128, LOADER)),
            "warning: slot 0 LOADER.L: Loader names the picture file PIC.P, which the image does "
            "not hold\n",
            31, 0, 31},
        // The text's in-place rewrite of a delete of A (200 bytes at 9) from A, B (300 at
        // 11), C (100 at 14), cut short after slot 0 ...
        DamageCase{"RewriteCutInTheDirectory",
            {{0, "B.B", 9, 300, "/B__0_0.B"}, {1, "B.B", 11, 300, "/B1__0_0.B"},
                {2, "C.C", 14, 100, ""}},
            nullptr,
            "error: slot 0 B.B: overlaps slot 1 B.B (sector 11)\nerror: slot 1 B.B: same name as "
            "slot 0\nerror: slot 1 B.B: overlaps slot 0 B.B (sector 11)\nwarning: slot 1 B.B: at "
            "sector 11, where files packed in slot order would put it at sector 12\n",
            32, 0, 0},
        // ... and after the directory and B's data, so that C's sector and the free ones are old.
        DamageCase{"RewriteCutInTheData", {{0, "B.B", 9, 300, ""}, {1, "C.C", 12, 100, ""}},
            both(put(12 * 128, pattern_bytes(300, 0).substr(128)), put(14 * 128, "C's data")),
            "warning: slot 1 C.C: bytes 100-127 of its last sector, 12, are not 0xFF\n"
            "warning: sectors 13-14: free, but not 0xFF\n",
            31, 0, 0}),
    CaseName());

using CheckTest = E2eTest;

// The check reads an image the user may only read, and acts on no side file.
TEST_F(CheckTest, SideFilesAreOnlyReportedUntilARepair) {
  const Bytes image = damaged_image(TWO, nullptr);
  write_file("img.vem", image);
  write_file("img.vem.jnl", "VEMJRNL2");  // cut short before its header was whole
  write_file("img.vem.new", "a new image a killed -ir never put in place");
  make_read_only("img.vem");
  const std::string found =
      "VEM image repair: img.vem\nwarning: img.vem.jnl: stale journal, never acted on; the next "
      "command that opens the image removes it\nwarning: img.vem.new: new image of an -ic or -ir "
      "that was cut short; the next command that opens the image removes it\nErrors: 0, "
      "warnings: 2\n";
  expect_run(run({"img.vem", "-iv"}, unprivileged()), "VEM image check" + found.substr(16),
      "Warnings found in VEM image 'img.vem'.", 31);
  EXPECT_EQ(list_dir(), (std::vector<std::string>{"img.vem", "img.vem.jnl", "img.vem.new"}));
  expect_run(run({"img.vem", "-iv", "-fix"}),
      found +
          "Removed: img.vem.jnl (never acted on)\nRemoved: img.vem.new (stale)\n"
          "Repaired image:\nErrors: 0, warnings: 0\n\n",
      "", 0);
  EXPECT_EQ(list_dir(), std::vector<std::string>{"img.vem"});
  expect_bytes(read_file("img.vem"), image);
}

// A repair never overwrites a backup or a salvage folder, and one whose
// image cannot be written leaves everything as it was.
TEST_F(CheckTest, RepairThatCannotFinishChangesNothing) {
  const Bytes image = damaged_image({{0, "A.B", 9, 300, ""}, {1, "B.B", 10, 10, ""}}, nullptr);
  write_file("img.vem", image);
  write_file("img.vem.bak", "mine");
  EXPECT_EQ(run({"img.vem", "-iv", "-fix"}).err,
      err_line("Can't access output file 'img.vem.bak' for writing!"));
  ::unlink(path("img.vem.bak").c_str());
  make_dir("img.vem.salvage");
  const RunResult refused = run({"img.vem", "-iv", "-fix"});
  EXPECT_EQ(refused.err, err_line("Can't access output file 'img.vem.salvage' for writing!"));
  EXPECT_EQ(refused.status, 13);
  ::rmdir(path("img.vem.salvage").c_str());
  const RunResult failed = run({"img.vem", "-iv", "-fix"}, size_limited(20000));
  EXPECT_EQ(failed.err, err_line("Can't write to the file 'img.vem'!"));
  EXPECT_EQ(failed.status, 14);
  EXPECT_EQ(list_dir(), std::vector<std::string>{"img.vem"});
  expect_bytes(read_file("img.vem"), image);
}

}  // namespace
