#include "app/event_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

Event Activity(int control, int type) {
  return Event{ControlActivity, control, kMainWindowNumber, type, nullptr};
}
Event Close() {
  return Event{CloseRequested, 0, kMainWindowNumber, 0, nullptr};
}
Event Resized() {
  return Event{WindowResized, 0, kMainWindowNumber, 0, nullptr};
}

std::vector<Event> Drain(EventQueue& queue) {
  std::vector<Event> taken;
  while (auto event = queue.Take()) taken.push_back(*event);
  return taken;
}

struct Posted {
  int kind;
  int control;
  int type;
};

// What comes out of a queue fed with the given reports, in order.
std::vector<Posted> Through(std::initializer_list<Event> reports) {
  EventQueue queue;
  for (const Event& e : reports) queue.Post(e);
  std::vector<Posted> out;
  for (const Event& e : Drain(queue)) out.push_back({e.kind, e.control, e.type});
  return out;
}

bool operator==(const Posted& a, const Posted& b) {
  return a.kind == b.kind && a.control == b.control && a.type == b.type;
}

}  // namespace

TEST(EventQueue, IdenticalReportsWaitingAtTheTailCountOnce) {
  const struct {
    const char* what;
    std::initializer_list<Event> reports;
    std::vector<Posted> taken;
  } cases[] = {
      {"a burst of one report",
       {Activity(5, ValueChanged), Activity(5, ValueChanged), Activity(5, ValueChanged)},
       {{ControlActivity, 5, ValueChanged}}},
      {"the same control, another type",
       {Activity(5, FocusGained), Activity(5, ValueChanged), Activity(5, ValueChanged),
        Activity(5, FocusLost)},
       {{ControlActivity, 5, FocusGained},
        {ControlActivity, 5, ValueChanged},
        {ControlActivity, 5, FocusLost}}},
      {"another control between two equal reports",
       {Activity(5, ValueChanged), Activity(6, ValueChanged), Activity(5, ValueChanged)},
       {{ControlActivity, 5, ValueChanged},
        {ControlActivity, 6, ValueChanged},
        {ControlActivity, 5, ValueChanged}}},
      {"resizes in a row", {Resized(), Resized(), Resized()}, {{WindowResized, 0, 0}}},
      {"two clicks on one button",
       {Activity(17, Clicked), Activity(17, Clicked)},
       {{ControlActivity, 17, Clicked}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Through(c.reports), c.taken) << c.what;
}

TEST(EventQueue, AReportTakenByTheLoopMayComeAgain) {
  EventQueue queue;
  EXPECT_TRUE(queue.Post(Activity(7, Clicked)));
  ASSERT_TRUE(queue.Take());
  EXPECT_TRUE(queue.Post(Activity(7, Clicked)));
  EXPECT_EQ(queue.size(), 1u);
}

TEST(EventQueue, ReportsOfTheWindowsOwnChangesAreKeptOut) {
  EventQueue queue;
  {
    ProgramChange outer(queue);
    EXPECT_FALSE(queue.Post(Activity(5, ValueChanged)));
    {
      ProgramChange inner(queue);
      EXPECT_FALSE(queue.Post(Activity(6, ValueChanged)));
    }
    // Still inside the outer change.
    EXPECT_FALSE(queue.Post(Activity(11, ValueChanged)));
  }
  EXPECT_TRUE(queue.empty());
  EXPECT_TRUE(queue.Post(Activity(5, ValueChanged)));
  EXPECT_EQ(queue.size(), 1u);
}

TEST(EventQueue, ClicksBehindACloseRequestAtTheHeadAreLost) {
  const struct {
    const char* what;
    std::initializer_list<Event> reports;
    std::vector<Posted> taken;
  } cases[] = {
      {"a click after the close",
       {Close(), Activity(17, Clicked), Activity(7, Clicked)},
       {{CloseRequested, 0, 0}}},
      {"a toggle is a click too", {Close(), Activity(14, Clicked)}, {{CloseRequested, 0, 0}}},
      {"other reports still enter",
       {Close(), Activity(5, ValueChanged), Activity(5, FocusLost)},
       {{CloseRequested, 0, 0},
        {ControlActivity, 5, ValueChanged},
        {ControlActivity, 5, FocusLost}}},
      {"a click before the close is kept",
       {Activity(17, Clicked), Close(), Activity(17, Clicked)},
       {{ControlActivity, 17, Clicked}, {CloseRequested, 0, 0}, {ControlActivity, 17, Clicked}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Through(c.reports), c.taken) << c.what;
}

TEST(EventQueue, ClicksEnterAgainOnceTheCloseRequestHasBeenTaken) {
  EventQueue queue;
  queue.Post(Close());
  EXPECT_FALSE(queue.Post(Activity(17, Clicked)));
  ASSERT_EQ(queue.Take()->kind, CloseRequested);
  EXPECT_TRUE(queue.Post(Activity(17, Clicked)));
}

TEST(EventQueue, DropDataTravelsWithItsEventAndIsReleasedWithIt) {
  EventQueue queue;
  auto names = std::make_shared<int>(42);
  std::weak_ptr<int> watch = names;
  queue.Post(Event{FilesDropped, 5, kMainWindowNumber, 0, std::move(names)});
  std::optional<Event> taken = queue.Take();
  ASSERT_TRUE(taken);
  EXPECT_EQ(*static_cast<int*>(taken->data.get()), 42);
  taken.reset();
  EXPECT_TRUE(watch.expired());
}

// Two drops onto one field before the loop takes the first are two reports: the second must
// not be lost as a repeat of the first, since its names may differ.
TEST(EventQueue, DropsWithTheirOwnDataAreNeverMerged) {
  EventQueue queue;
  auto first = std::make_shared<int>(1);
  EXPECT_TRUE(queue.Post(Event{FilesDropped, 6, kMainWindowNumber, 0, first}));
  // The very same report posted twice still counts once.
  EXPECT_FALSE(queue.Post(Event{FilesDropped, 6, kMainWindowNumber, 0, first}));
  EXPECT_TRUE(queue.Post(Event{FilesDropped, 6, kMainWindowNumber, 0, std::make_shared<int>(2)}));
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(*static_cast<int*>(queue.Take()->data.get()), 1);
  EXPECT_EQ(*static_cast<int*>(queue.Take()->data.get()), 2);
}

TEST(EventQueue, AnEmptyQueueGivesNothing) {
  EventQueue queue;
  EXPECT_FALSE(queue.Take());
}
