// How a grid follows its table cursor, without a toolkit: what the follower
// tells its view per change and which rows it hands out to redraw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "records/TableCursor.h"
#include "tests/support/MemoryStore.h"
#include "ui/GridFollower.h"

namespace ue {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing::UnorderedElementsAre;

// Logs what the follower asks of its view, with the rows it holds then.
struct Recorder : grid::Follower::View {
    const grid::Follower* follower = nullptr;
    std::vector<std::string> calls;
    int showsAsked = 0;

    std::string Rows() const { return "/" + std::to_string(follower->Rows()); }
    void ResetDone(bool newColumns) override { calls.push_back(newColumns ? "reset columns" : "reset"); }
    void RowAdding(int row) override { calls.push_back("adding " + std::to_string(row) + Rows()); }
    void RowAdded(int row) override { calls.push_back("added " + std::to_string(row) + Rows()); }
    void RowRemoving(int row) override { calls.push_back("removing " + std::to_string(row) + Rows()); }
    void RowRemoved(int row) override { calls.push_back("removed " + std::to_string(row) + Rows()); }
    void ShowLater() override { ++showsAsked; }
};

class GridFollower : public testing::Test {
protected:
    void SetUp() override {
        auto memory = std::make_unique<test::MemoryStore>();
        memory->AddTable("T", {test::Column("AID", "INTEGER"), test::Column("Name", "TEXT")});
        for (int i = 0; i < 5; ++i)
            memory->AddRow("T", {FieldValue::Int(i), FieldValue::Text("f" + std::to_string(i))});
        connection.Attach(std::move(memory));
        cursor.OpenTable();
        view.follower = &follower;
        follower.Attach();
    }
    // What the view's turn of the event loop takes.
    void Settle() {
        follower.TakeRedraw();
        follower.TakeShow();
        view.calls.clear();
        view.showsAsked = 0;
    }

    Connection connection;
    TableCursor cursor{connection, "T"};
    Recorder view;
    grid::Follower follower{cursor, view};
};

TEST_F(GridFollower, AMoveRedrawsTheMarksOldAndNewRowOncePerBurst) {
    EXPECT_THAT(view.calls, ElementsAre("reset columns"));
    EXPECT_EQ(follower.TakeShow().select, 0);
    Settle();

    cursor.GoNext();
    grid::Follower::Redraw redraw = follower.TakeRedraw();
    EXPECT_THAT(redraw.rows, UnorderedElementsAre(0, 1)) << "the old row keeps its mark otherwise";
    EXPECT_THAT(redraw.widen, IsEmpty());
    EXPECT_TRUE(redraw.moved);
    Settle();

    // Many moves before the loop runs: one request, the mark's two rows.
    cursor.GoNext();
    cursor.GoNext();
    cursor.GoNext();
    EXPECT_EQ(view.showsAsked, 1);
    EXPECT_THAT(follower.TakeRedraw().rows, UnorderedElementsAre(1, 4));
    EXPECT_EQ(follower.TakeShow().select, 4);
    EXPECT_STREQ(follower.Indicator(4), "\xE2\x96\xB6");
    Settle();

    // Past the last row: the mark goes, nothing is selected, and the last row
    // followed stays in view.
    cursor.GoNext();
    EXPECT_THAT(follower.TakeRedraw().rows, ElementsAre(4));
    const grid::Follower::Show show = follower.TakeShow();
    EXPECT_EQ(show.select, -1);
    EXPECT_EQ(show.scrollTo, 4);
    EXPECT_STREQ(follower.Indicator(4), "");
    EXPECT_THAT(view.calls, IsEmpty());
}

TEST_F(GridFollower, ANewRowIsAddedAndADiscardedOneRemovedWhereItWas) {
    cursor.GoNext();
    Settle();

    cursor.BeginAppend();
    EXPECT_THAT(view.calls, ElementsAre("adding 5/5", "added 5/6"));
    EXPECT_STREQ(follower.Indicator(5), "*");
    grid::Follower::Redraw redraw = follower.TakeRedraw();
    EXPECT_THAT(redraw.rows, ElementsAre(1)) << "the new row is drawn as it is added";
    EXPECT_THAT(redraw.widen, ElementsAre(5));

    cursor.DiscardRow();
    EXPECT_THAT(view.calls, ElementsAre("adding 5/5", "added 5/6", "removing 5/6", "removed 5/5"))
        << "no reset: only where the row was is cleared";
    EXPECT_EQ(follower.Current(), 1);
    EXPECT_THAT(follower.TakeRedraw().rows, ElementsAre(1));
    Settle();

    // Added, filled and discarded in one burst: nothing of it is left to draw.
    cursor.BeginAppend();
    cursor.SetValue("Name", FieldValue::Text("new"));
    cursor.DiscardRow();
    redraw = follower.TakeRedraw();
    EXPECT_THAT(redraw.rows, IsEmpty());
    EXPECT_THAT(redraw.widen, IsEmpty());
    EXPECT_EQ(follower.TakeShow().select, 1);

    // Added and saved: the new row stays; its values are redrawn once saved.
    cursor.BeginAppend();
    follower.TakeRedraw();
    cursor.SetValue("Name", FieldValue::Text("a rather longer name"));
    cursor.SaveRow();
    EXPECT_EQ(follower.Rows(), 6);
    redraw = follower.TakeRedraw();
    EXPECT_THAT(redraw.rows, ElementsAre(5));
    EXPECT_THAT(redraw.widen, ElementsAre(5));
    EXPECT_STREQ(follower.Indicator(5), "\xE2\x96\xB6");
}

TEST_F(GridFollower, ReopenAndCloseTakeEverythingAnew) {
    Settle();
    cursor.Reopen();
    cursor.CloseTable();
    EXPECT_THAT(view.calls, ElementsAre("reset", "reset columns"));
    EXPECT_EQ(view.showsAsked, 1);
    EXPECT_EQ(follower.Rows(), 0);
    EXPECT_THAT(follower.Titles(), IsEmpty());
    EXPECT_EQ(follower.TakeShow().select, -1);
}

}  // namespace
}  // namespace ue
