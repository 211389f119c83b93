// SPDX-License-Identifier: MIT
// The replacement of an output file, in process: completed files land only when committed, and
// the refusals a caller turns into messages.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "imagelib/platform/replace_file.h"
#include "imagelib/platform/temporary_files.h"
#include "support.h"

#if defined(__linux__)
#include <sys/xattr.h>
#endif

namespace fs = std::filesystem;
using imagelib_detail::FileReplacement;
using imagelib_detail::Refusal;
using imagelib_detail::Replaced;
using testsupport::slurp;

namespace {

class ReplaceFileTest : public testsupport::TempDirTest {
 protected:
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      found.push_back(entry.path().filename().string());
    }
    return found;
  }

  // Begins a replacement of path and writes text to its temporary file.
  static bool begin_with(const fs::path& path, const std::string& text,
                         FileReplacement* replacement) {
    return imagelib_detail::replacement_begin(path.string().c_str(), replacement) &&
           std::fputs(text.c_str(), replacement->stream) >= 0;
  }
};

}  // namespace

TEST_F(ReplaceFileTest, ClosedFilesLandOnlyWhenCommitted) {
  const fs::path image = file("image.pgm", "old image");
  const fs::path mask = file("mask.pgm", "old mask");
  FileReplacement image_file;
  FileReplacement mask_file;
  ASSERT_TRUE(begin_with(image, "new image", &image_file));
  ASSERT_TRUE(begin_with(mask, "new mask", &mask_file));
  ASSERT_TRUE(imagelib_detail::replacement_close(&image_file, true));
  ASSERT_TRUE(imagelib_detail::replacement_close(&mask_file, true));
  EXPECT_EQ(slurp(image), "old image");
  EXPECT_EQ(imagelib_detail::replacement_commit(&image_file), Replaced::done);
  EXPECT_EQ(imagelib_detail::replacement_commit(&mask_file), Replaced::done);
  EXPECT_EQ(slurp(image), "new image");
  EXPECT_EQ(slurp(mask), "new mask");
  EXPECT_EQ(names().size(), 2u);
}

TEST_F(ReplaceFileTest, AbandonedOrUnwrittenFilesLeaveTheTargetAsItWas) {
  const fs::path image = file("image.pgm", "old image");
  FileReplacement open_file;
  ASSERT_TRUE(begin_with(image, "new", &open_file));
  imagelib_detail::replacement_abandon(&open_file);
  FileReplacement closed_file;
  ASSERT_TRUE(begin_with(image, "new", &closed_file));
  ASSERT_TRUE(imagelib_detail::replacement_close(&closed_file, true));
  imagelib_detail::replacement_abandon(&closed_file);
  FileReplacement unwritten;
  ASSERT_TRUE(begin_with(image, "new", &unwritten));
  EXPECT_FALSE(imagelib_detail::replacement_close(&unwritten, false));
  EXPECT_EQ(slurp(image), "old image");
  EXPECT_EQ(names(), std::vector<std::string>{"image.pgm"});
}

#if defined(IMAGENOISE_TEST_PROCESSES)
// A directory that takes the target's place before the commit: an existing file may still be
// written in place, a new one is not made at all.
TEST_F(ReplaceFileTest, ACommitThatCannotRenameRemovesTheTemporaryFile) {
  for (const bool existing : {true, false}) {
    SCOPED_TRACE(existing ? "existing" : "new");
    const fs::path target = dir_ / "target";
    if (existing) {
      file("target", "old");
    }
    FileReplacement replacement;
    ASSERT_TRUE(begin_with(target, "new", &replacement));
    fs::remove(target);
    fs::create_directory(target);
    file("target/inside", "");
    ASSERT_TRUE(imagelib_detail::replacement_close(&replacement, true));
    EXPECT_EQ(imagelib_detail::replacement_commit(&replacement),
              existing ? Replaced::not_done : Replaced::failed);
    EXPECT_EQ(names(), std::vector<std::string>{"target"});
    fs::remove_all(target);
  }
}

TEST_F(ReplaceFileTest, RefusalsSayWhetherTheTargetMayBeWrittenInPlace) {
  fs::create_directory(dir_ / "sub");
  fs::create_symlink(std::string(300, 'n'), dir_ / "long_text");
  fs::create_symlink("missing/new.pgm", dir_ / "into_nothing");
  fs::create_symlink("/dev/null", dir_ / "device");
  file("plain", "");
  fs::create_symlink("plain/new.pgm", dir_ / "through_a_file");
  const std::vector<std::pair<std::string, Refusal>> cases{
      {"sub/..", Refusal::none},         {"sub", Refusal::none},
      {"device", Refusal::none},         {"long_text", Refusal::open},
      {"into_nothing", Refusal::open},   {"missing/new.pgm", Refusal::open},
      {"sub/new.pgm/x", Refusal::open},  {"plain/new.pgm", Refusal::none},
      {"through_a_file", Refusal::open},
  };
  for (const auto& [name, refusal] : cases) {
    FileReplacement replacement;
    EXPECT_FALSE(imagelib_detail::replacement_begin((dir_ / name).string().c_str(), &replacement))
        << name;
    EXPECT_EQ(replacement.refusal, refusal) << name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "sub" / "new.pgm"));
}

// A descriptor's link in /proc reports a size shorter than its text: a long path is still
// followed to the file it names.
TEST_F(ReplaceFileTest, LinksLongerThanTheirReportedSizeAreFollowed) {
  const fs::path target = file(std::string(250, 'f'), "old");
  const int fd = open(target.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  FileReplacement replacement;
  const bool begun = imagelib_detail::replacement_begin(
      ("/proc/self/fd/" + std::to_string(fd)).c_str(), &replacement);
  close(fd);
  if (!begun && replacement.refusal == Refusal::none) {
    GTEST_SKIP() << "no /proc here";
  }
  ASSERT_TRUE(begun);
  EXPECT_EQ(fs::path(replacement.target), target);
  imagelib_detail::replacement_abandon(&replacement);
  EXPECT_EQ(names().size(), 1u);
}

// A file of another owner is written in place (the new file would change its owner); one of
// another group is replaced when the new file can be given that group. An absolute link to no
// file names where the new file goes.
TEST_F(ReplaceFileTest, OwnersAndGroupsAreKeptOrTheFileIsWrittenInPlace) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can give a file to another user here";
  }
  const fs::path other_owner = file("other_owner.pgm", "old");
  const fs::path other_group = file("other_group.pgm", "old");
  ASSERT_EQ(chown(other_owner.c_str(), 1, 1), 0);
  ASSERT_EQ(chown(other_group.c_str(), 0, 1), 0);
  FileReplacement in_place;
  EXPECT_FALSE(imagelib_detail::replacement_begin(other_owner.string().c_str(), &in_place));
  EXPECT_EQ(in_place.refusal, Refusal::none);
  FileReplacement regrouped;
  ASSERT_TRUE(begin_with(other_group, "new", &regrouped));
  ASSERT_TRUE(imagelib_detail::replacement_close(&regrouped, true));
  ASSERT_EQ(imagelib_detail::replacement_commit(&regrouped), Replaced::done);
  struct stat info {};
  ASSERT_EQ(stat(other_group.c_str(), &info), 0);
  EXPECT_EQ(info.st_gid, 1u);
  fs::create_symlink(dir_ / "made.pgm", dir_ / "absolute");
  FileReplacement made;
  ASSERT_TRUE(begin_with(dir_ / "absolute", "new", &made));
  EXPECT_EQ(fs::path(made.target), dir_ / "made.pgm");
  imagelib_detail::replacement_abandon(&made);
  EXPECT_FALSE(fs::exists(dir_ / "made.pgm"));
}

#if defined(__linux__)
// A file capability only a privileged user may set cannot go to the new file of an ordinary
// user's run: nothing is begun, and the refusal names the attributes. The test takes nobody's
// identity for the call alone (its effective ids, which root can take back).
TEST_F(ReplaceFileTest, AttributesThatCannotBeCarriedOverAreARefusal) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can act as nobody here and set a file capability";
  }
  const fs::path own = dir_ / "own";
  fs::create_directory(own);
  const fs::path capable = own / "capable.pgm";
  testsupport::spit(capable, "old");
  ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown(capable.c_str(), 65534, 65534), 0);
  fs::permissions(dir_, fs::perms(0755));
  // Version 2, permitted CAP_NET_RAW.
  const unsigned char capability[20] = {0, 0, 0, 2, 0, 0x20};
  if (setxattr(capable.c_str(), "security.capability", capability, sizeof capability, 0) != 0) {
    GTEST_SKIP() << "this file system or container takes no file capability";
  }
  ASSERT_EQ(setegid(65534), 0);
  ASSERT_EQ(seteuid(65534), 0);
  FileReplacement replacement;
  const bool begun = imagelib_detail::replacement_begin(capable.c_str(), &replacement);
  ASSERT_EQ(seteuid(0), 0);
  ASSERT_EQ(setegid(0), 0);
  EXPECT_FALSE(begun);
  EXPECT_EQ(replacement.refusal, Refusal::attributes);
  EXPECT_EQ(slurp(capable), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(own), fs::directory_iterator()), 1);
}
#endif

// An existing file an ordinary user may write, in a directory that user may not add to, is
// written in place; a new file there is refused.
TEST_F(ReplaceFileTest, ADirectoryAUserMayNotAddToLeavesOnlyInPlaceWrites) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can act as nobody here";
  }
  const fs::path writable = file("writable.pgm", "old");
  ASSERT_EQ(chown(writable.c_str(), 65534, 65534), 0);
  fs::permissions(dir_, fs::perms(0755));
  ASSERT_EQ(setegid(65534), 0);
  ASSERT_EQ(seteuid(65534), 0);
  FileReplacement existing;
  const bool existing_begun = imagelib_detail::replacement_begin(writable.c_str(), &existing);
  FileReplacement fresh;
  const bool fresh_begun = imagelib_detail::replacement_begin((dir_ / "new.pgm").c_str(), &fresh);
  ASSERT_EQ(seteuid(0), 0);
  ASSERT_EQ(setegid(0), 0);
  EXPECT_FALSE(existing_begun);
  EXPECT_EQ(existing.refusal, Refusal::none);
  EXPECT_FALSE(fresh_begun);
  EXPECT_EQ(fresh.refusal, Refusal::open);
}

// The list a signal removes holds a run's few files; one it has no room for is not recorded,
// and its owner still removes it.
TEST(TemporaryFiles, AFileWithoutRoomIsNotRecorded) {
  std::vector<int> slots;
  int slot = 0;
  while (slot >= 0 && slots.size() < 100) {
    slot = imagelib_detail::temporary_file_add(AT_FDCWD, "never-made");
    slots.push_back(slot);
  }
  EXPECT_EQ(slots.back(), -1);
  EXPECT_GE(slots.size(), 3u);
  for (const int taken : slots) {
    imagelib_detail::temporary_file_drop(taken);
  }
  EXPECT_EQ(imagelib_detail::temporary_file_add(AT_FDCWD, std::string(100, 'n').c_str()), -1);
}

// A directory that takes no new file (immutable, refused even to root): an existing file may be
// written in place, a new one is refused.
TEST_F(ReplaceFileTest, ADirectoryThatTakesNoNewFileLeavesOnlyInPlaceWrites) {
  const fs::path closed = dir_ / "closed";
  fs::create_directory(closed);
  testsupport::spit(closed / "old.pgm", "old");
  const std::string quoted = "'" + closed.string() + "'";
  if (std::system(("chattr +i " + quoted + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "this file system or user cannot make a directory immutable (chattr +i)";
  }
  FileReplacement existing;
  EXPECT_FALSE(
      imagelib_detail::replacement_begin((closed / "old.pgm").string().c_str(), &existing));
  EXPECT_EQ(existing.refusal, Refusal::none);
  FileReplacement fresh;
  EXPECT_FALSE(imagelib_detail::replacement_begin((closed / "new.pgm").string().c_str(), &fresh));
  EXPECT_EQ(fresh.refusal, Refusal::open);
  EXPECT_EQ(std::system(("chattr -i " + quoted).c_str()), 0);
}

// The rule fs.protected_symlinks applies, for a link to no file, holds for root too: in a
// sticky directory anyone may write, a link of a third user is not followed.
TEST_F(ReplaceFileTest, StickyDirectoriesFollowNoLinkOfAThirdUser) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can give a link to another user here";
  }
  const fs::path sticky = dir_ / "sticky";
  fs::create_directory(sticky);
  fs::permissions(sticky, fs::perms(01777));
  fs::create_symlink("planted.pgm", sticky / "planted");
  ASSERT_EQ(lchown((sticky / "planted").c_str(), 1, static_cast<gid_t>(-1)), 0);
  FileReplacement replacement;
  EXPECT_FALSE(
      imagelib_detail::replacement_begin((sticky / "planted").string().c_str(), &replacement));
  EXPECT_EQ(replacement.refusal, Refusal::open);
  EXPECT_FALSE(fs::exists(sticky / "planted.pgm"));
}
#endif
