// The desktop window against the telephony provider: calls placed as phonesim places them show
// up in the log and on call screens, whose buttons work the call; the settings dialog reaches the
// lines; the Lines dialog tells open lines from the others.
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QTreeWidget>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/desktop/CallScreenDlg.h"
#include "app/desktop/CallwatchView.h"
#include "app/desktop/DesktopMessages.h"
#include "app/desktop/Dialogs.h"
#include "app/desktop/MainFrame.h"
#include "app/settings/QtSettingsStore.h"
#include "tests/DesktopTestApp.h"
#include "tests/ProviderFixture.h"

namespace {

QApplication& App() { return DesktopTestApp("callwatch_desktop_window_tests"); }

class DesktopWindowTest : public ProviderTest {
protected:
  void SetUp() override {
    App();
    ProviderTest::SetUp();
    QSettings("Larkspur Soft", "Callwatch").clear();
    setup.messagesFolder = folder.file("Messages");
    setup.link = &digits;
    setup.greeting.assign(400, 1000);
    SetMessageHandler([this](QWidget*, const QString& t) { boxes.push_back(t.toStdString()); });
    ASSERT_GE(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), 0);
    CTapiContext::PhoneInitialize(nullptr, "Callwatch", nullptr);
  }
  void TearDown() override {
    frame.reset();
    // The window, its call screens and dialogs, shown and worked offscreen, give Qt nothing to
    // warn of.
    EXPECT_EQ(warnings.Text(), "");
    SetMessageHandler(nullptr);
    QSettings("Larkspur Soft", "Callwatch").clear();
    ProviderTest::TearDown();
  }
  void open() {
    frame = std::make_unique<CMainFrame>(setup, settings);
    frame->show();
    ASSERT_TRUE(view()->Initialised());
    view()->SetMakeCall([this](const char* n, const char*, const char*, const char*) {
      dialled.push_back(n);
      return LONG{-2};
    });
  }
  CCallwatchView* view() const { return frame->View(); }
  CCallRecord* row(int i) const { return view()->Model()->Record(i); }
  CCallScreenDlg* screenOf(CCallRecord* r) const {
    return r && r->screen ? dynamic_cast<CCallScreenDlg*>(r->screen->View()) : nullptr;
  }
  // Runs the window's events (the telephony events among them) until done() holds.
  bool waitFor(const std::function<bool()>& done, int ms = 10000) { return QTest::qWaitFor(done, ms); }
  bool visible(CCallScreenDlg* s, int id) const { return s->Control(id)->isVisibleTo(s); }
  CCallRequest longCall(int line) {
    CCallRequest r = call(line);
    r.rings = 8;
    r.ringMs = 1000;
    return r;
  }

  QtWarnings warnings;
  CQtSettingsStore settings;
  CCallScreenSetup setup;
  KeptDigitLink digits;
  std::unique_ptr<CMainFrame> frame;
  std::vector<std::string> boxes, dialled;
};

TEST_F(DesktopWindowTest, LinesDialogShowsOpenAndNotOpenLines) {
  CTapiLine taken;  // another program holds line 1
  ASSERT_GE(taken.Open(1, nullptr, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_INTERACTIVEVOICE), 0);
  open();
  CLinesDlg dlg(frame->Monitor());
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), "Lines");
  QTreeWidget* list = dlg.List();
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), "Line ID");
  EXPECT_EQ(list->headerItem()->text(1), "Line Name");
  EXPECT_EQ(list->headerItem()->text(2), "Monitor Status");
  EXPECT_EQ(list->topLevelItem(0)->text(0), "0");
  EXPECT_EQ(list->topLevelItem(0)->text(2), "Open");
  EXPECT_EQ(list->topLevelItem(1)->text(0), "1");
  EXPECT_EQ(list->topLevelItem(1)->text(2), "Not open");
  EXPECT_FALSE(list->topLevelItem(0)->text(1).isEmpty());
  EXPECT_NE(list->topLevelItem(0)->text(1), list->topLevelItem(1)->text(1));
  const int third = list->viewport()->width() / 3;
  for (int c = 0; c < 3; ++c) EXPECT_EQ(list->columnWidth(c), third);
}

TEST_F(DesktopWindowTest, SettingsDialogRefusesFiveAndAppliesZeroToTheLines) {
  open();
  ASSERT_EQ(frame->Monitor()->Lines()[0]->GetNumRings(0), 4u);
  // The modal dialog is worked as a user would: 5 refused, then 0 taken.
  std::vector<std::string> seen;
  QTimer::singleShot(0, [&] {
    auto* dlg = dynamic_cast<CScreenSettingsDlg*>(QApplication::activeModalWidget());
    if (!dlg) return;
    seen.push_back(dlg->windowTitle().toStdString());
    seen.push_back(dlg->Field()->text().toStdString());
    dlg->Field()->selectAll();
    QTest::keyClicks(dlg->Field(), "5");
    dlg->accept();
    seen.push_back(dlg->isVisible() ? "still open" : "closed");
    dlg->Field()->selectAll();
    QTest::keyClicks(dlg->Field(), "0");
    dlg->accept();
  });
  frame->ActionNamed("&Call Screen Settings...")->trigger();
  EXPECT_EQ(seen, (std::vector<std::string>{"Call Screening Settings", "4", "still open"}));
  EXPECT_EQ(boxes, std::vector<std::string>{"Please enter an integer between 0 and 4."});
  EXPECT_EQ(CCallwatchSettings::Load(settings).rings, 0);
  for (const auto& line : frame->Monitor()->Lines())
    if (line->IsOpen()) { EXPECT_EQ(line->GetNumRings(0), 0u); }

  // With 0 a call is never answered automatically.
  CCallRequest r = call(0);
  r.rings = 3;
  SimCaller caller(r);
  ASSERT_TRUE(waitFor([&] { return caller.Done() && frame->Monitor()->ActiveCalls() == 0; }));
  EXPECT_FALSE(caller.Has("answered"));
  ASSERT_EQ(view()->Model()->rowCount(), 1);
  EXPECT_EQ(row(0)->ringsToAnswer, 0u);
  // Cancel leaves the setting alone.
  QTimer::singleShot(0, [] {
    if (auto* dlg = dynamic_cast<CScreenSettingsDlg*>(QApplication::activeModalWidget())) dlg->reject();
  });
  frame->ActionNamed("&Call Screen Settings...")->trigger();
  EXPECT_EQ(CCallwatchSettings::Load(settings).rings, 0);
}

TEST_F(DesktopWindowTest, BlockedCallerIsShownButNotDialledAndItsRowStaysAfterTheCall) {
  open();
  CCallRequest r = longCall(0);
  r.blocked = true;
  SimCaller caller(r);
  ASSERT_TRUE(waitFor([&] { return view()->Model()->rowCount() == 1 && screenOf(row(0)); }));
  CCallRecord* rec = row(0);
  EXPECT_EQ(view()->Model()->Text(*rec, kColName), "<blocked>");
  EXPECT_EQ(view()->Model()->Text(*rec, kColNumber), "<blocked>");
  EXPECT_TRUE(view()->Model()->RefreshTimerObject().isActive());  // a call in progress
  view()->selectionModel()->select(view()->Model()->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_TRUE(frame->DialAction()->isEnabled());
  frame->DialAction()->trigger();
  EXPECT_TRUE(dialled.empty());
  EXPECT_TRUE(boxes.empty());

  // The call screen names the blocked caller; Take the Call, then Hang Up.
  CCallScreenDlg* screen = screenOf(rec);
  EXPECT_TRUE(screen->isVisible());
  EXPECT_EQ(screen->ControlText(IDC_NAME), "<blocked>");
  QTest::mouseClick(static_cast<QPushButton*>(screen->Control(IDC_TAKE_CALL)), Qt::LeftButton);
  EXPECT_FALSE(visible(screen, IDC_TAKE_CALL));
  EXPECT_FALSE(visible(screen, IDC_TAKE_MESSAGE));
  EXPECT_TRUE(visible(screen, IDC_HANG_UP));
  EXPECT_FALSE(visible(screen, IDC_DTMF_TEXT));
  ASSERT_TRUE(waitFor([&] { return caller.Has("answered"); }));
  QTest::mouseClick(static_cast<QPushButton*>(screen->Control(IDC_HANG_UP)), Qt::LeftButton);
  EXPECT_FALSE(screen->isVisible());
  ASSERT_TRUE(waitFor([&] { return caller.Done() && frame->Monitor()->ActiveCalls() == 0; }));
  EXPECT_TRUE(caller.Has("dropped"));
  EXPECT_EQ(digits.ends, 1);
  EXPECT_TRUE(boxes.empty());
  // The row stays, "Over", with its duration fixed; the refresh stops with the last call.
  EXPECT_EQ(view()->Model()->Text(*rec, kColState), "Over");
  EXPECT_EQ(rec->screen, nullptr);
  EXPECT_FALSE(view()->Model()->RefreshTimerObject().isActive());
  const QString duration = view()->Model()->Text(*rec, kColDuration);
  EXPECT_EQ(
      duration,
      QString("%1 min. %2 sec.").arg((rec->endTime - rec->startTime) / 60).arg((rec->endTime - rec->startTime) % 60));
}

TEST_F(DesktopWindowTest, CallScreenThroughAMessageCall) {
  open();
  CCallRequest r = longCall(0);
  r.name = "VUD VEROD";
  r.number = "14255550123";
  r.digits = "12*";
  r.digitMs = 50;
  SimCaller caller(r);
  ASSERT_TRUE(waitFor([&] { return view()->Model()->rowCount() == 1 && screenOf(row(0)); }));
  CCallScreenDlg* screen = screenOf(row(0));
  EXPECT_EQ(screen->windowTitle(), "Answered Call -- DTMF sent to loomwork");
  EXPECT_TRUE(screen->isVisible());
  EXPECT_EQ(screen->ControlText(IDC_NAME), "VUD VEROD");
  EXPECT_EQ(screen->ControlText(IDC_NUMBER), "+1 (425) 5550123");
  EXPECT_EQ(screen->ControlText(IDC_TAKE_CALL), "&Take the Call");
  EXPECT_EQ(screen->ControlText(IDC_TAKE_MESSAGE), "&Take a Message");
  EXPECT_EQ(screen->ControlText(IDC_HANG_UP), "&Hang Up");
  EXPECT_TRUE(visible(screen, IDC_TAKE_CALL));
  EXPECT_TRUE(visible(screen, IDC_TAKE_MESSAGE));
  EXPECT_FALSE(visible(screen, IDC_HANG_UP));
  EXPECT_FALSE(visible(screen, IDC_DTMF_TEXT));
  EXPECT_EQ(screen->ControlText(IDC_DTMF_TEXT), "Waiting for DTMF...");

  QTest::mouseClick(static_cast<QPushButton*>(screen->Control(IDC_TAKE_MESSAGE)), Qt::LeftButton);
  EXPECT_FALSE(visible(screen, IDC_TAKE_CALL));
  EXPECT_FALSE(visible(screen, IDC_TAKE_MESSAGE));
  EXPECT_FALSE(visible(screen, IDC_HANG_UP));
  EXPECT_TRUE(visible(screen, IDC_DTMF_TEXT));
  EXPECT_EQ(screen->ControlText(IDC_DTMF_TEXT), "Accepted call -- press '*' to end call");
  // The digits show as they come; the end sequence drops the call.
  ASSERT_TRUE(waitFor([&] { return digits.forwarded == "12"; }));
  ASSERT_TRUE(waitFor([&] { return caller.Done() && frame->Monitor()->ActiveCalls() == 0; }));
  EXPECT_TRUE(caller.Has("dropped"));
  EXPECT_EQ(row(0)->screen, nullptr);  // gone with the call
  EXPECT_EQ(view()->Model()->Text(*row(0), kColState), "Over");
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DesktopWindowTest, ACallScreensMessageBoxDoesNotHoldTheCallAndGoesWithIt) {
  open();
  SetMessageHandler(nullptr);  // the program's own boxes
  CCallRequest r = longCall(0);
  r.hangupMs = 300;
  SimCaller caller(r);
  ASSERT_TRUE(waitFor([&] { return view()->Model()->rowCount() == 1 && screenOf(row(0)); }));
  CCallScreenDlg* screen = screenOf(row(0));
  static_cast<QPushButton*>(screen->Control(IDC_TAKE_CALL))->click();
  ASSERT_TRUE(waitFor([&] { return caller.Has("answered"); }));
  // A second answer fails: the box is up at once and the click returns.
  static_cast<QPushButton*>(screen->Control(IDC_TAKE_MESSAGE))->click();
  auto boxes = [] {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        EXPECT_EQ(box->text(), "Can't answer the call");
        ++n;
      }
    return n;
  };
  EXPECT_EQ(boxes(), 1);
  warnings.Forget("This plugin does not support propagateSizeHints()");  // the box fixes its size as it shows
  // The caller hangs up while it is up: the call screen goes, its box with it, and nothing else.
  ASSERT_TRUE(waitFor([&] { return caller.Done() && frame->Monitor()->ActiveCalls() == 0; }));
  EXPECT_EQ(row(0)->screen, nullptr);
  EXPECT_EQ(boxes(), 0);
  EXPECT_EQ(view()->Model()->Text(*row(0), kColState), "Over");
}

TEST_F(DesktopWindowTest, CallAnsweredElsewhereHidesItsScreen) {
  CCallwatchSettings::SaveRings(settings, 0);  // no automatic acceptance before the other extension
  open();
  CCallRequest r = longCall(0);
  r.answerElsewhere = true;
  r.ringMs = 200;
  r.hangupMs = 1500;
  SimCaller caller(r);
  ASSERT_TRUE(waitFor([&] { return view()->Model()->rowCount() == 1 && screenOf(row(0)); }));
  CCallScreenDlg* screen = screenOf(row(0));
  EXPECT_TRUE(screen->isVisible());
  ASSERT_TRUE(waitFor([&] { return row(0)->state == LINECALLSTATE_CONNECTED; }));
  CCallScreenDlg* still = screenOf(row(0));
  ASSERT_NE(still, nullptr);  // the call goes on, elsewhere
  EXPECT_FALSE(still->isVisible());
  EXPECT_TRUE(visible(still, IDC_TAKE_CALL));  // no choice was made
  EXPECT_EQ(row(0)->screen->GetMode(), CCallScreen::kNoChoice);
  EXPECT_EQ(view()->Model()->Text(*row(0), kColState), "Connect");
  ASSERT_TRUE(waitFor([&] { return caller.Done() && frame->Monitor()->ActiveCalls() == 0; }));
}

TEST_F(DesktopWindowTest, CallsLandInTheSavedOrder) {
  // The last run sorted by name, Z to A.
  QSettings stored("Larkspur Soft", "Callwatch");
  stored.setValue("Settings/SortColumn", kColName);
  stored.setValue("Settings/SortAscending", 0);
  stored.sync();
  CCallwatchSettings::SaveRings(settings, 0);
  open();
  EXPECT_EQ(view()->header()->sortIndicatorSection(), kColName);
  EXPECT_EQ(view()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
  std::vector<std::unique_ptr<SimCaller>> callers;
  for (const char* name : {"MAX MOLE", "ANN ANT", "ZED ZEBRA", "BOB BEE"}) {
    CCallRequest r = call(callers.size() % 2);
    r.name = name;
    r.number = "14255550123";
    r.rings = 1;
    r.ringMs = 100;
    const int before = view()->Model()->rowCount();
    callers.push_back(std::make_unique<SimCaller>(r));
    ASSERT_TRUE(waitFor([&] { return view()->Model()->rowCount() == before + 1; }));
  }
  QStringList shown;
  for (int i = 0; i < view()->Model()->rowCount(); ++i) shown << view()->Model()->Text(*row(i), kColName);
  EXPECT_EQ(shown, (QStringList{"ZED ZEBRA", "MAX MOLE", "BOB BEE", "ANN ANT"}));
  for (auto& c : callers) ASSERT_TRUE(waitFor([&] { return c->Done(); }));
  ASSERT_TRUE(waitFor([&] { return frame->Monitor()->ActiveCalls() == 0; }));
}

TEST_F(DesktopWindowTest, MessagesFolderIsMadeOrItsFailureReported) {
  open();
  // A folder that cannot be made (under a file): the message, and nothing made.
  const std::string file = folder.write("plain", "x");
  setup.messagesFolder = file + "/Messages";
  frame->ActionNamed("&Messages...")->trigger();
  // The message as it always read, and on a line of its own the folder, so that the user can go
  // and look.
  EXPECT_EQ(boxes, std::vector<std::string>{"Can't open Messages folder.\n" + file + "/Messages"});
  // A folder that can be made is made before the file manager is asked to open it (there may be
  // none here, which is reported the same way).
  boxes.clear();
  setup.messagesFolder = folder.file("Messages");
  frame->ActionNamed("&Messages...")->trigger();
  EXPECT_TRUE(QDir(QString::fromStdString(folder.file("Messages"))).exists());
  warnings.Forget("This plugin does not support QPlatformServices::openDocument()");  // no file manager offscreen
  ASSERT_LE(boxes.size(), 1u);
  if (!boxes.empty()) { EXPECT_EQ(boxes[0], "Can't open Messages folder.\n" + folder.file("Messages")); }
}

}  // namespace
