#include "core/table_file.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../../wavetable/tests/wav_builder.hpp"
#include "core/default_table.hpp"
#include "core/tables.hpp"

namespace quillory::core {
namespace {

using quillory::testing::Bytes;
using quillory::testing::f32s;
using quillory::testing::kPcm;
using quillory::testing::mono16;
using quillory::testing::surge_file;
using quillory::testing::WavBuilder;
using quillory::testing::zeros16;

const std::string kNoFrameSize =
    "This WAV doesn't say its frame size, and its length isn't a multiple of 2048. Export it from "
    "Quillory, or with a clm tag.";

Bytes mono_wav(std::size_t samples) {
  return mono16().data(zeros16(samples)).bytes;
}

TEST(TableFile, ChoosesTheReaderByExtension) {
  // The same Surge bytes: read as Surge only for a "wt" extension in any case.
  const Bytes surge = surge_file(4, 2, 0, Bytes(32, 0));
  const std::string not_wav = "Not a WAV file this can read: invalid format: not a RIFF/WAVE file";
  struct Case {
    const char* file;
    bool surge;
  };
  const Case cases[] = {
      {"pad.wt", true},   {"pad.WT", true},      {"pad.wT", true},   {"dir/x.y/pad.Wt", true},
      {"pad.wav", false}, {"pad.aif", false},    {"pad", false},     {".wt", false},
      {"pad.wtx", false}, {"pad.wt.wav", false}, {"pad.wt/", false}, {"", false},
  };
  for (const auto& c : cases) {
    const auto table = table_from_file_bytes(surge, c.file);
    if (c.surge) {
      ASSERT_TRUE(table) << c.file << ": " << table.error();
      EXPECT_EQ(table->frame_size, 4u) << c.file;
      EXPECT_EQ(table->data.size(), 8u) << c.file;
    } else {
      ASSERT_FALSE(table) << c.file;
      EXPECT_EQ(table.error(), not_wav) << c.file;
    }
  }
}

TEST(TableFile, NamesTheTableAfterTheFile) {
  struct Case {
    std::string file;
    std::string name;
  };
  const Case cases[] = {
      {"pad.wav", "pad"},
      {"/home/me/Wave Tables/Glass Pad.wav", "Glass Pad"},
      {"pad.tar.wav", "pad.tar"},
      {".wt", ".wt"},
      {"pad.", "pad"},
      {"noext", "noext"},
      {"dir.d/noext", "noext"},
      {"caf\xC3\xA9.wav", "caf\xC3\xA9"},
      {"bad\xFF\xFEname.wav", "bad\xEF\xBF\xBD\xEF\xBF\xBDname"},
      {"", "Table"},
      {"dir/", "Table"},
      {"..", "Table"},
      {"dir/.", "Table"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(table_name(c.file), c.name) << c.file;
    const auto table = table_from_file_bytes(mono_wav(2048), c.file);
    ASSERT_TRUE(table) << c.file;
    EXPECT_EQ(table->name, c.name) << c.file;
  }
}

TEST(TableFile, SettlesFrameSizeAndShape) {
  struct Case {
    const char* what;
    WavBuilder wav;
    std::size_t samples;
    std::size_t frame_size;  // 0: the frame-size sentence is expected
    std::size_t rows = 1;
    std::size_t layers = 1;
  };
  const Case cases[] = {
      {"untagged multiple of 2048", mono16(), 4096, 2048},
      {"untagged 3000 samples", mono16(), 3000, 0},
      {"untagged and empty", mono16(), 0, 0},
      {"tagged and empty: an empty record", mono16().clm("<!>256"), 0, 256},
      {"clm 1000 does not divide 4096", mono16().clm("<!>1000"), 4096, 2048},
      {"clm 1000 over 3000 samples", mono16().clm("<!>1000"), 3000, 1000},
      {"clm 256", mono16().clm("<!>256"), 4096, 256},
      {"srge 512", mono16().srge(512), 4096, 512},
      {"clm larger than the samples", mono16().clm("<!>8192"), 4096, 2048},
      {"clm beyond 32 bits", mono16().clm("<!>4294967296"), 2048, 2048},
      {"grid", mono16().wt3d(1, 256, 4, 2, 2), 4096, 256, 2, 2},
      {"grid with names", mono16().wt3d(1, 256, 2, 1, 2, std::string_view("A\0B", 3)), 1024, 256, 1,
       2},
      {"grid that does not fit: tag used", mono16().wt3d(1, 256, 4, 2, 2).clm("<!>300"), 3000, 300},
  };
  for (auto c : cases) {
    const auto table = table_from_file_bytes(c.wav.data(zeros16(c.samples)).bytes, "t.wav");
    if (c.frame_size == 0) {
      ASSERT_FALSE(table) << c.what;
      EXPECT_EQ(table.error(), kNoFrameSize) << c.what;
      continue;
    }
    ASSERT_TRUE(table) << c.what << ": " << table.error();
    EXPECT_EQ(table->frame_size, c.frame_size) << c.what;
    EXPECT_EQ(table->rows, c.rows) << c.what;
    EXPECT_EQ(table->layers, c.layers) << c.what;
    EXPECT_EQ(table->data.size(), c.samples) << c.what;
    EXPECT_EQ(table->name, "t") << c.what;
  }
}

TEST(TableFile, KeepsTheSamplesAndSurgeShape) {
  const auto wav = table_from_file_bytes(
      WavBuilder{}.fmt(3, 1, 32).clm("<!>2").data(f32s({0.5f, -0.25f, 1.5f, -2.0f})).bytes,
      "x.wav");
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->data, (std::vector<float>{0.5f, -0.25f, 1.5f, -2.0f}));

  const auto surge = table_from_file_bytes(surge_file(2, 2, 0, f32s({1, 2, 3, 4})), "pad.wt");
  ASSERT_TRUE(surge);
  EXPECT_EQ(*surge, (TableData{"pad", {1, 2, 3, 4}, 2, 1, 1}));

  // A Surge file with no frames loads as an empty record; the table store refuses it.
  const auto empty = table_from_file_bytes(surge_file(2048, 0, 0, {}), "e.wt");
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, (TableData{"e", {}, 2048, 1, 1}));
}

TEST(TableFile, GivesTheReadersErrorsAsSentences) {
  struct Case {
    const char* what;
    Bytes bytes;
    const char* file;
    std::string error;
  };
  const Case cases[] = {
      {"WAV without data", mono16().bytes, "a.wav",
       "Not a WAV file this can read: invalid format: missing data chunk"},
      {"WAV of 12-bit samples", WavBuilder{}.fmt(kPcm, 1, 12).data(zeros16(4)).bytes, "a.wav",
       "Not a WAV file this can read: unsupported: 12-bit PCM"},
      {"empty file as WAV",
       {},
       "a.wav",
       "Not a WAV file this can read: invalid format: not a RIFF/WAVE file"},
      {"Surge sample", surge_file(4, 1, 1, Bytes(16, 0)), "a.wt",
       "Not a Surge wavetable: unsupported: Surge .wt sample (not a wavetable)"},
      {"Surge truncated", surge_file(4, 1, 0, Bytes(15, 0)), "a.wt",
       "Not a Surge wavetable: invalid format: Surge .wt data is truncated"},
      {"Surge frame size 0", surge_file(0, 1, 0, {}), "a.WT",
       "Not a Surge wavetable: invalid argument: frame size must be > 0"},
      {"WAV bytes named .wt", mono_wav(2048), "a.wt",
       "Not a Surge wavetable: invalid format: not a Surge .wt file"},
  };
  for (const auto& c : cases) {
    const auto table = table_from_file_bytes(c.bytes, c.file);
    ASSERT_FALSE(table) << c.what;
    EXPECT_EQ(table.error(), c.error) << c.what;
  }
}

// Files on disk: a fresh folder per test, removed afterwards.
class TableFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quillory_table_file_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path write(const std::string& name, const Bytes& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }

  std::filesystem::path dir_;
};

TEST_F(TableFileOnDisk, LoadsWavAndSurgeFiles) {
  const auto wav = read_table_file(write("Glass Pad.wav", mono_wav(4096)));
  ASSERT_TRUE(wav) << wav.error();
  EXPECT_EQ(wav->name, "Glass Pad");
  EXPECT_EQ(wav->frame_size, 2048u);
  EXPECT_EQ(wav->data.size(), 4096u);

  const auto surge = read_table_file(write("pad.WT", surge_file(2, 1, 4, Bytes{0, 64, 0, 192})));
  ASSERT_TRUE(surge) << surge.error();
  EXPECT_EQ(*surge, (TableData{"pad", {1.0f, -1.0f}, 2, 1, 1}));
}

TEST_F(TableFileOnDisk, SaysItCouldNotReadWhatIsNotARegularReadableFile) {
  struct Case {
    const char* what;
    std::filesystem::path path;
    std::string error;
  };
  const Case cases[] = {
      {"missing file", dir_ / "missing.wav", "Couldn't read the file: No such file or directory"},
      {"folder", dir_, "Couldn't read the file: Is a directory"},
      {"folder named like a table",
       [this] {
         std::filesystem::create_directory(dir_ / "dir.wt");
         return dir_ / "dir.wt";
       }(),
       "Couldn't read the file: Is a directory"},
      {"device", "/dev/zero", "Couldn't read the file: not a regular file"},
      {"file used as a folder", write("plain.wav", mono_wav(2048)) / "x.wav",
       "Couldn't read the file: Not a directory"},
  };
  for (const auto& c : cases) {
    const auto table = read_table_file(c.path);
    ASSERT_FALSE(table) << c.what;
    EXPECT_EQ(table.error(), c.error) << c.what;
  }
}

TEST_F(TableFileOnDisk, ReadsAnEmptyFileAsAnEmptyWav) {
  const auto table = read_table_file(write("empty.wav", {}));
  ASSERT_FALSE(table);
  EXPECT_EQ(table.error(), "Not a WAV file this can read: invalid format: not a RIFF/WAVE file");
}

// From file to table store, as a dropped file goes: a good file becomes the current table; a
// damaged file or one the store refuses leaves the store as it was.
TEST_F(TableFileOnDisk, LoadedTablesInstallAndBadFilesLeaveTheStoreAlone) {
  Tables tables(default_table());
  const TableData before = tables.table_data();

  const auto damaged = read_table_file(write("damaged.wav", Bytes(200, 0xAB)));
  ASSERT_FALSE(damaged);
  EXPECT_EQ(tables.table_data(), before);

  const auto empty = read_table_file(write("empty.wt", surge_file(2048, 0, 0, {})));
  ASSERT_TRUE(empty);
  EXPECT_FALSE(tables.install(*empty));
  EXPECT_EQ(tables.table_data(), before);

  const auto good =
      read_table_file(write("grid.wav", mono16().wt3d(1, 256, 2, 2, 2).data(zeros16(2048)).bytes));
  ASSERT_TRUE(good) << good.error();
  ASSERT_TRUE(tables.install(*good));
  EXPECT_EQ(tables.table_data(), (TableData{"grid", std::vector<float>(2048), 256, 2, 2}));
}

}  // namespace
}  // namespace quillory::core
