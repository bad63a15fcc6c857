#include "ui/headless_view.h"

#include <gtest/gtest.h>

#include "tests/ui/recording_sink.h"

namespace downsql::ui {
namespace {

using E = DialogEvent;

TEST(HeadlessViewTest, RunSendsShowThenQueueAndDropsDisabledExecute) {
  HeadlessView view;
  RecordingSink sink(view);
  for (E e : {E::kExecuteClick, E::kPanelDblClick, E::kExecuteClick, E::kCloseClick, E::kGetClick})
    view.QueueEvent(e);
  view.RunModal(sink);
  EXPECT_EQ(sink.events,
            (std::vector<E>{E::kShow, E::kPanelDblClick, E::kExecuteClick, E::kCloseClick}));
  EXPECT_TRUE(view.closed());
}

TEST(HeadlessViewTest, EmptyQueueClosesAfterShow) {
  HeadlessView view;
  RecordingSink sink(view);
  view.RunModal(sink);
  EXPECT_EQ(sink.events, std::vector<E>{E::kShow});
  EXPECT_TRUE(view.closed());
}

}  // namespace
}  // namespace downsql::ui
