// The table store: installing records, tables sent by the editor, frame replacement, renaming,
// and the hand-over slots the audio thread reads.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "core/tables.hpp"

namespace quillory::core {
namespace {

constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();

// `count` frames of 8 samples, every sample of frame f equal to base + f.
TableData record(std::string name, std::size_t count, float base = 0.0f, std::size_t rows = 1,
                 std::size_t layers = 1) {
  TableData t{std::move(name), std::vector<float>(count * 8), 8, rows, layers};
  for (std::size_t i = 0; i < t.data.size(); ++i) t.data[i] = base + static_cast<float>(i / 8);
  return t;
}

// A snapshot of everything a failed operation must leave alone.
struct Snapshot {
  TableData data;
  synth::TableHandle current;

  explicit Snapshot(const Tables& tables) : data(tables.table_data()), current(tables.current()) {}
  void expect_unchanged(Tables& tables, const char* what) const {
    EXPECT_EQ(tables.table_data(), data) << what;
    EXPECT_EQ(tables.current(), current) << what;
    EXPECT_FALSE(tables.take_pending()) << what;
  }
};

TEST(Tables, StartsWithTheRecordAndNothingPending) {
  Tables tables(record("start", 4, 0.0f, 2));
  EXPECT_EQ(tables.table_data(), record("start", 4, 0.0f, 2));
  const auto t = tables.current();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->frame_count(), 4u);
  EXPECT_EQ(t->cols(), 2u);
  EXPECT_EQ(t->rows(), 2u);
  EXPECT_FALSE(tables.take_pending());
}

TEST(TablesDeathTest, AStartingRecordThatDoesNotBuildStopsTheProgram) {
  EXPECT_DEATH(Tables(TableData{"broken", std::vector<float>(6), 4, 1, 1}), "does not build");
}

TEST(Tables, InstallHandsTheNewTableOverOnce) {
  Tables tables(record("start", 2));
  ASSERT_TRUE(tables.install(record("next", 6, 0.0f, 3)));
  EXPECT_EQ(tables.table_data(), record("next", 6, 0.0f, 3));
  const auto current = tables.current();
  EXPECT_EQ(current->cols(), 2u);
  EXPECT_EQ(tables.take_pending(), current);
  EXPECT_FALSE(tables.take_pending());
  EXPECT_EQ(tables.visit_table_data([](const TableData& d) { return d.name; }), "next");
}

TEST(Tables, InstallRefusesRecordsThatDoNotFitTheirShape) {
  struct Case {
    const char* what;
    TableData record;
  };
  const auto shaped = [](std::vector<float> data, std::size_t n, std::size_t rows,
                         std::size_t layers) {
    return TableData{"bad", std::move(data), n, rows, layers};
  };
  const Case cases[] = {
      {"frame size 0", shaped(std::vector<float>(16), 0, 1, 1)},
      {"frame size does not divide", shaped(std::vector<float>(16), 5, 1, 1)},
      {"no samples", shaped({}, 8, 1, 1)},
      {"one-sample frames", shaped(std::vector<float>(16), 1, 1, 1)},
      {"frames do not fill the rows", shaped(std::vector<float>(24), 8, 2, 1)},
      {"rows x layers overflows", shaped(std::vector<float>(16), 8, kHuge, kHuge)},
      {"rows x layers wraps to a divisor", shaped(std::vector<float>(16), 8, 1ull << 63, 4)},
  };
  Tables tables(record("kept", 3));
  const Snapshot before(tables);
  for (const auto& c : cases) {
    const auto r = tables.install(c.record);
    ASSERT_FALSE(r) << c.what;
    EXPECT_EQ(r.error(), "That table's frames don't fit its shape.") << c.what;
    before.expect_unchanged(tables, c.what);
  }
}

TEST(Tables, NonFiniteSamplesInstallAndPlayAsSilence) {
  Tables tables(record("start", 1));
  auto r = record("nan", 2);
  r.data.assign(r.data.size(), std::numeric_limits<float>::quiet_NaN());
  ASSERT_TRUE(tables.install(r));
  const auto t = tables.current();
  for (std::size_t i = 0; i < t->frame_stride(); ++i) EXPECT_EQ(t->frame_data(1)[i], 0.0f);
}

TEST(Tables, SecondInstallReplacesAnUnplayedTable) {
  Tables tables(record("start", 1));
  ASSERT_TRUE(tables.install(record("first", 2)));
  std::weak_ptr<const synth::Table> first = tables.current();
  ASSERT_TRUE(tables.install(record("second", 3)));
  EXPECT_TRUE(first.expired()) << "the unplayed table is released by the second hand-over";
  const auto picked = tables.take_pending();
  ASSERT_TRUE(picked);
  EXPECT_EQ(picked->frame_count(), 3u);
}

TEST(Tables, RetiredTablesAreReleasedAtTheNextHandOver) {
  Tables tables(record("start", 1));
  auto playing = tables.current();  // what an activated engine starts with
  tables.clear_pending();
  ASSERT_TRUE(tables.install(record("next", 2)));
  std::weak_ptr<const synth::Table> old = playing;
  auto next = tables.take_pending();
  ASSERT_TRUE(next);
  ASSERT_TRUE(tables.try_retire(playing));
  EXPECT_FALSE(playing);
  EXPECT_FALSE(old.expired()) << "parked on the retired list until the main thread frees it";
  tables.retire(std::move(next));  // the engine is done with this one too
  ASSERT_TRUE(tables.install(record("third", 3)));
  EXPECT_TRUE(old.expired());
  EXPECT_EQ(tables.current().use_count(), 3) << "current, pending and this copy";
}

TEST(Tables, ClearPendingDropsTheUnplayedTable) {
  Tables tables(record("start", 1));
  ASSERT_TRUE(tables.install(record("next", 2)));
  tables.clear_pending();
  EXPECT_FALSE(tables.take_pending());
  EXPECT_EQ(tables.current()->frame_count(), 2u);
}

TEST(Tables, EditorInstallOfTheSameTableDoesNothing) {
  Tables tables(record("mine", 4, 0.0f, 2));
  const Snapshot before(tables);
  auto same = record("", 4, 0.0f, 2).data;
  same[0] = -0.0f;  // equal to +0 as a float
  ASSERT_TRUE(tables.install_from_editor(8, 2, 1, same));
  before.expect_unchanged(tables, "same table");
}

TEST(Tables, EditorInstallKeepsTheNameWhenAnythingDiffers) {
  struct Case {
    const char* what;
    std::size_t frame_size, rows, layers;
    std::vector<float> samples;
  };
  const auto samples = record("", 4).data;
  auto changed = samples;
  changed[13] = 0.5f;
  const Case cases[] = {
      {"rows", 8, 2, 1, samples},
      {"layers", 8, 1, 2, samples},
      {"frame size", 16, 1, 1, samples},
      {"one sample", 8, 1, 1, changed},
      {"more samples", 8, 1, 1, record("", 5).data},
  };
  for (const auto& c : cases) {
    Tables tables(record("mine", 4));
    const auto before = tables.current();
    ASSERT_TRUE(tables.install_from_editor(c.frame_size, c.rows, c.layers, c.samples)) << c.what;
    EXPECT_EQ(tables.table_data(), (TableData{"mine", c.samples, c.frame_size, c.rows, c.layers}))
        << c.what;
    EXPECT_NE(tables.current(), before) << c.what;
    EXPECT_EQ(tables.take_pending(), tables.current()) << c.what;
  }
}

TEST(Tables, EditorInstallTreatsNaNAsChanged) {
  auto nan_record = record("mine", 2);
  nan_record.data[3] = std::numeric_limits<float>::quiet_NaN();
  Tables tables(nan_record);
  ASSERT_TRUE(tables.install_from_editor(8, 1, 1, nan_record.data));
  EXPECT_TRUE(tables.take_pending()) << "a NaN never equals, so the table is rebuilt";
}

TEST(Tables, EditorInstallRefusesABadShape) {
  Tables tables(record("mine", 4));
  const Snapshot before(tables);
  const auto r = tables.install_from_editor(8, 3, 1, record("", 4).data);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), "That table's frames don't fit its shape.");
  before.expect_unchanged(tables, "bad shape");
}

TEST(Tables, ReplaceFrameRebuildsOnlyThatFrame) {
  Tables tables(record("mine", 4, 0.0f, 2));
  const auto before = tables.current();
  const std::vector<float> frame(8, 9.0f);
  ASSERT_TRUE(tables.replace_frame(2, frame));

  auto expected = record("mine", 4, 0.0f, 2);
  std::fill(expected.data.begin() + 16, expected.data.begin() + 24, 9.0f);
  EXPECT_EQ(tables.table_data(), expected);
  const auto after = tables.current();
  EXPECT_EQ(tables.take_pending(), after);
  for (std::size_t f = 0; f < 4; ++f)
    EXPECT_EQ(after->frame(f) == before->frame(f), f != 2) << "frame " << f;
  EXPECT_NEAR(after->level(2, 0)[5], 9.0f, 1e-5f);
  EXPECT_EQ(after->rows(), 2u);
}

TEST(Tables, ReplaceFrameRefusesWhatDoesNotFit) {
  struct Case {
    const char* what;
    std::size_t index, length;
  };
  const Case cases[] = {
      {"index equal to the frame count", 4, 8},
      {"index far past the end", kHuge, 8},
      {"index whose offset overflows", kHuge / 4, 8},
      {"one sample short", 0, 7},
      {"one sample long", 0, 9},
      {"empty", 0, 0},
  };
  Tables tables(record("mine", 4));
  const Snapshot before(tables);
  for (const auto& c : cases) {
    const auto r = tables.replace_frame(c.index, std::vector<float>(c.length, 3.0f));
    ASSERT_FALSE(r) << c.what;
    EXPECT_EQ(r.error(), "That frame doesn't fit the table.") << c.what;
    before.expect_unchanged(tables, c.what);
  }
}

TEST(Tables, RenameTouchesOnlyTheName) {
  Tables tables(record("mine", 2));
  const auto before = tables.current();
  for (const char* name : {"", "Växt — 2", "mine"}) {
    tables.rename(name);
    EXPECT_EQ(tables.table_data().name, name);
    EXPECT_EQ(tables.table_data().data, record("", 2).data);
    EXPECT_EQ(tables.current(), before);
    EXPECT_FALSE(tables.take_pending());
  }
}

}  // namespace
}  // namespace quillory::core
