// Tray icons: events from the icon's activations, tooltips, replacement and removal. The
// offscreen desktop has no notification area, so these also show that nothing fails there.

#include <gtest/gtest.h>

#include <QPointer>
#include <QSystemTrayIcon>

#include <string>
#include <tuple>
#include <vector>

#include "ui/events.h"
#include "ui/images.h"
#include "ui/tray.h"
#include "ui/tray_internal.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace {

constexpr std::intptr_t kOwner = 0x1234;

class Tray : public ::testing::Test {
 protected:
  using Event = std::tuple<int, ObjectNumber, int>;  // code, icon, type

  void SetUp() override {
    ui::setTrayEventSink([this](int code, ObjectNumber icon, ObjectNumber, int type) {
      events.emplace_back(code, icon, type);
    });
    ASSERT_NE(createImage(1, 48, 48, 32), 0);
  }
  void TearDown() override {
    removeSysTrayIcon(ObjectAll);
    ui::setTrayEventSink({});
    freeImage(ObjectAll);
  }

  static void activate(ObjectNumber number, QSystemTrayIcon::ActivationReason reason) {
    QSystemTrayIcon* icon = ui::trayIconObject(number);
    ASSERT_NE(icon, nullptr);
    emit icon->activated(reason);
  }

  std::vector<Event> events;
};

TEST_F(Tray, ActivationsBecomeTrayEventsInOrder) {
  ASSERT_NE(addSysTrayIcon(0, kOwner, imageHandle(1)), 0);
  activate(0, QSystemTrayIcon::Trigger);
  activate(0, QSystemTrayIcon::DoubleClick);
  activate(0, QSystemTrayIcon::Context);
  activate(0, QSystemTrayIcon::MiddleClick);
  const std::vector<Event> expected = {
      {EventSysTray, 0, TrayLeftPress},
      {EventSysTray, 0, TrayLeftDoubleClick},
      {EventSysTray, 0, TrayRightPress},
  };
  EXPECT_EQ(events, expected);
}

TEST_F(Tray, ToolTipIsCutAt63Characters) {
  ASSERT_NE(addSysTrayIcon(0, kOwner, imageHandle(1)), 0);
  std::u16string hundred;
  for (int i = 0; i < 100; ++i) hundred += static_cast<char16_t>(u'a' + i % 26);
  EXPECT_NE(sysTrayIconToolTip(0, hundred), 0);
  EXPECT_EQ(ui::trayIconObject(0)->toolTip(), QString::fromStdU16String(hundred.substr(0, 63)));

  EXPECT_NE(sysTrayIconToolTip(0, u"Lunadio. Lecture de Tom\u00e9 - \u00e9t\u00e9"), 0);
  EXPECT_EQ(ui::trayIconObject(0)->toolTip(), QStringLiteral("Lunadio. Lecture de Tomé - été"));

  // A character outside the first plane straddling the cut is dropped whole.
  std::u16string straddling(62, u'x');
  straddling += u"\U0001F3B5tail";
  EXPECT_NE(sysTrayIconToolTip(0, straddling), 0);
  EXPECT_EQ(ui::trayIconObject(0)->toolTip(), QString(62, QChar('x')));

  EXPECT_EQ(sysTrayIconToolTip(0, u""), 0);
  EXPECT_EQ(ui::trayIconObject(0)->toolTip(), QString(62, QChar('x')));
  EXPECT_EQ(sysTrayIconToolTip(5, u"no such icon"), 0);
}

TEST_F(Tray, ReAddingReplacesAndObjectAllRemovesEveryIcon) {
  ASSERT_NE(addSysTrayIcon(0, kOwner, imageHandle(1)), 0);
  QPointer<QSystemTrayIcon> first = ui::trayIconObject(0);
  ASSERT_NE(addSysTrayIcon(0, kOwner, imageHandle(1)), 0);
  EXPECT_TRUE(first.isNull());
  EXPECT_NE(ui::trayIconObject(0), nullptr);

  const std::intptr_t dynamic = addSysTrayIcon(ObjectAny, kOwner, imageHandle(1));
  ASSERT_GE(dynamic, kFirstDynamicId);
  activate(static_cast<ObjectNumber>(dynamic), QSystemTrayIcon::Trigger);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(std::get<1>(events[0]), dynamic);

  removeSysTrayIcon(ObjectAll);
  EXPECT_EQ(ui::trayIconObject(0), nullptr);
  EXPECT_EQ(ui::trayIconObject(static_cast<ObjectNumber>(dynamic)), nullptr);
  removeSysTrayIcon(0);  // already gone: nothing happens
}

TEST_F(Tray, MissingOwnerFailsAndMissingImageGetsAPlaceholder) {
  EXPECT_EQ(addSysTrayIcon(2, 0, imageHandle(1)), 0);
  EXPECT_EQ(ui::trayIconObject(2), nullptr);

  ASSERT_NE(addSysTrayIcon(2, kOwner, 0), 0);
  EXPECT_FALSE(ui::trayIconObject(2)->icon().isNull());

  ASSERT_NE(addSysTrayIcon(3, kOwner, imageHandle(1)), 0);
  EXPECT_TRUE(ui::trayIconObject(3)->icon().availableSizes().contains(QSize(48, 48)));
}

TEST_F(Tray, WithoutANotificationAreaNothingFails) {
  EXPECT_FALSE(isSysTrayAvailable());  // the offscreen desktop has none
  ASSERT_NE(addSysTrayIcon(0, kOwner, imageHandle(1)), 0);
  EXPECT_NE(sysTrayIconToolTip(0, u"Lunadio. Lire de la musique."), 0);
}

}  // namespace
}  // namespace lunadio
