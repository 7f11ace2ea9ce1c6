// The call log window without telephony: row texts, sorting, shortening, the refresh of running
// durations, Dial, the settings that outlive the window, the main frame and the dialogs. Runs on
// the offscreen platform with its settings in a folder of its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <cstring>

#include "app/desktop/CallwatchView.h"
#include "app/desktop/DesktopMessages.h"
#include "app/desktop/Dialogs.h"
#include "app/desktop/MainFrame.h"
#include "app/settings/QtSettingsStore.h"
#include "testing/TempFolder.h"
#include "tests/DesktopTestApp.h"

namespace {

QApplication& App() { return DesktopTestApp("callwatch_desktop_view_tests"); }

std::unique_ptr<CCallRecord> Record(const char* name, const char* number, time_t start, time_t end, uint32_t rings,
                                    DWORD state) {
  auto r = std::make_unique<CCallRecord>();
  r->name = name;
  r->number = number;
  r->startTime = start;
  r->endTime = end;
  r->rings = rings;
  r->state = state;
  return r;
}

class DesktopViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    QSettings("Larkspur Soft", "Callwatch").clear();
    SetMessageHandler([this](QWidget*, const QString& text) { boxes.push_back(text.toStdString()); });
  }
  void TearDown() override {
    SetMessageHandler(nullptr);
    QSettings("Larkspur Soft", "Callwatch").clear();
  }
  // Four calls whose sort keys tie in pairs, so that every tie-break is needed somewhere.
  // (Or the calls already in records, with make false.)
  void addCalls(CCallwatchView& view, bool make = true) {
    if (make) {
      records.push_back(Record("bob", "+1 (425) 5550100", 1000, 1100, 3, LINECALLSTATE_IDLE));
      records.push_back(Record("Alice", "+1 (425) 5550100", 1010, 1110, 3, LINECALLSTATE_CONNECTED));
      records.push_back(Record("alice", "+1 (206) 5550000", 900, 0, 1, LINECALLSTATE_OFFERING));
      records.push_back(Record("Carl", "<blocked>", 1000, 1050, 3, LINECALLSTATE_IDLE));
    }
    view.Model()->SetClock([this] { return now; });
    for (auto& r : records) view.Model()->RecordAdded(r.get());
  }
  std::string order(const CCallwatchView& view) const {
    std::string s;
    for (int row = 0; row < view.Model()->rowCount(); ++row) {
      CCallRecord* r = view.Model()->Record(row);
      for (size_t i = 0; i < records.size(); ++i)
        if (records[i].get() == r) s += char('A' + i);
    }
    return s;
  }
  void clickHeader(CCallwatchView& view, int column, Qt::KeyboardModifiers modifiers = {}) {
    QHeaderView* h = view.header();
    const QPoint at(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, modifiers, at);
  }

  std::vector<std::unique_ptr<CCallRecord>> records;
  time_t now = 1200;
  std::vector<std::string> boxes;
  CQtSettingsStore settings;
  CCallScreenSetup setup;
};

TEST_F(DesktopViewTest, RowTextsAreTheSixColumns) {
  CCallwatchView view(settings);
  addCalls(view);
  CCallLogModel& m = *view.Model();
  ASSERT_EQ(m.columnCount(), 6);
  const char* headers[] = {"Name", "Phone No.", "Date/Time", "Duration", "Rings", "State"};
  for (int c = 0; c < 6; ++c)
    EXPECT_EQ(m.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toStdString(), headers[c]);
  EXPECT_EQ(m.Text(*records[0], kColName), "bob");
  EXPECT_EQ(m.Text(*records[3], kColNumber), "<blocked>");
  EXPECT_EQ(m.Text(*records[0], kColDuration), "1 min. 40 sec.");
  EXPECT_EQ(m.Text(*records[2], kColDuration), "5 min. 0 sec.");  // running: until now
  EXPECT_EQ(m.Text(*records[1], kColRings), "3");
  EXPECT_EQ(m.Text(*records[0], kColState), "Over");
  EXPECT_EQ(m.Text(*records[1], kColState), "Connect");
  EXPECT_EQ(m.Text(*records[0], kColDateTime),
            QLocale().toString(QDateTime::fromSecsSinceEpoch(1000), QLocale::LongFormat));
  // The texts come from the records when asked: a changed record shows its new values.
  records[0]->rings = 7;
  EXPECT_EQ(m.data(m.index(m.RowOf(records[0].get()), kColRings), Qt::DisplayRole).toString(), "7");
  // A record announced twice is one row.
  view.Model()->RecordAdded(records[0].get());
  EXPECT_EQ(m.rowCount(), 4);
}

TEST_F(DesktopViewTest, HeaderClicksSortEveryColumnBothWaysWithTheTieBreaks) {
  CCallwatchView view(settings);
  view.resize(700, 300);
  view.show();
  addCalls(view);
  // Opened without settings: by name, ascending, as the header shows; rows take their place.
  EXPECT_EQ(order(view), "CBAD");
  EXPECT_TRUE(view.header()->isSortIndicatorShown());
  EXPECT_EQ(view.header()->sortIndicatorSection(), kColName);
  EXPECT_EQ(view.header()->sortIndicatorOrder(), Qt::AscendingOrder);
  // Ascending orders; descending is each reversed.
  const char* ascending[] = {"CBAD", "CBAD", "CADB", "DBAC", "CADB", "BCAD"};
  for (int c = 0; c < kColumns; ++c) {
    clickHeader(view, c);
    EXPECT_EQ(order(view), ascending[c]) << "column " << c;
    EXPECT_EQ(view.SortColumn(), c);
    EXPECT_TRUE(view.SortAscending());
    EXPECT_TRUE(view.header()->isSortIndicatorShown());
    EXPECT_EQ(view.header()->sortIndicatorSection(), c);
    EXPECT_EQ(view.header()->sortIndicatorOrder(), Qt::AscendingOrder);
    clickHeader(view, c, Qt::ShiftModifier);
    std::string reversed(ascending[c]);
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(order(view), reversed) << "column " << c << " with Shift";
    EXPECT_FALSE(view.SortAscending());
    EXPECT_EQ(view.header()->sortIndicatorOrder(), Qt::DescendingOrder);
  }
  // Sorted once per click: a later call takes its place in the shown order, a changed one keeps
  // its place.
  clickHeader(view, kColName);
  records.push_back(Record("Aaron", "1", 100, 200, 1, LINECALLSTATE_IDLE));
  view.Model()->RecordAdded(records.back().get());
  EXPECT_EQ(order(view), "ECBAD");
  records[0]->name = "aardvark";
  view.Model()->RecordChanged(records[0].get());
  EXPECT_EQ(order(view), "ECBAD");
  // The selection follows its record through a sort.
  view.selectionModel()->select(view.Model()->index(view.Model()->RowOf(records[4].get()), 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  clickHeader(view, kColName);
  EXPECT_EQ(order(view), "AECBD");
  EXPECT_EQ(view.SelectedRecord(), records[4].get());
}

TEST_F(DesktopViewTest, TheModelSortsThroughItsOwnInterfaceWithoutAView) {
  CCallLogModel model;
  model.SetClock([this] { return now; });
  records.push_back(Record("bob", "1", 1000, 1100, 3, LINECALLSTATE_IDLE));
  records.push_back(Record("Alice", "2", 1010, 1110, 3, LINECALLSTATE_CONNECTED));
  records.push_back(Record("alice", "3", 900, 0, 1, LINECALLSTATE_OFFERING));
  records.push_back(Record("Carl", "4", 1000, 1050, 3, LINECALLSTATE_IDLE));
  for (auto& r : records) model.RecordAdded(r.get());
  auto order = [&] {
    std::string s;
    for (int row = 0; row < model.rowCount(); ++row)
      for (size_t i = 0; i < records.size(); ++i)
        if (records[i].get() == model.Record(row)) s += char('A' + i);
    return s;
  };
  QAbstractItemModel& asQt = model;
  asQt.sort(kColRings, Qt::DescendingOrder);
  EXPECT_EQ(order(), "BDAC");
  EXPECT_EQ(model.SortColumn(), kColRings);
  EXPECT_FALSE(model.SortAscending());
  asQt.sort(kColumns);  // no such column: nothing changes
  EXPECT_EQ(order(), "BDAC");
  EXPECT_EQ(model.SortColumn(), kColRings);
  // The sort state read from the settings sorts nothing by itself.
  model.SetSortState(kColName, true);
  EXPECT_EQ(order(), "BDAC");
  asQt.sort(kColName, Qt::AscendingOrder);
  EXPECT_EQ(order(), "CBAD");
}

TEST_F(DesktopViewTest, LongTextsEndInThreeDotsOrAreLeftWhole) {
  const QFontMetrics fm(App().font());
  const QString name = "Bartholomew Featherstonehaugh-Cholmondeley of Upper Wallop";
  EXPECT_EQ(ShortenText("Ann", fm, 200), "Ann");
  const int width = fm.horizontalAdvance("Bartholomew Feath");
  const QString s = ShortenText(name, fm, width);
  ASSERT_TRUE(s.endsWith("...")) << s.toStdString();
  EXPECT_FALSE(s.contains(QChar(0x2026)));
  EXPECT_TRUE(name.startsWith(s.left(s.size() - 3)));
  EXPECT_LE(fm.horizontalAdvance(s), width);
  // One more character would not fit.
  EXPECT_GT(fm.horizontalAdvance(name.left(s.size() - 2) + "..."), width);
  // Not even one character and the dots: the whole text, for the cell to clip.
  EXPECT_EQ(ShortenText(name, fm, 3), name);
  EXPECT_EQ(ShortenText("", fm, 0), "");
  // At most 255 characters are considered.
  EXPECT_EQ(ShortenText(QString(400, 'x'), fm, 100000).size(), 255);

  // In the view: the narrow name column shows the shortened name, the wide one the whole name.
  CCallwatchView view(settings);
  view.resize(700, 300);
  view.show();
  records.push_back(Record(name.toUtf8().constData(), "+1 (425) 5550100", 1000, 1100, 2, LINECALLSTATE_IDLE));
  view.Model()->RecordAdded(records.back().get());
  view.setColumnWidth(kColName, 80);
  const QString shown = view.ShownText(0, kColName);
  EXPECT_TRUE(shown.endsWith("..."));
  EXPECT_LE(view.fontMetrics().horizontalAdvance(shown), 80 - 4);
  view.setColumnWidth(kColName, 600);
  EXPECT_EQ(view.ShownText(0, kColName), name);
}

TEST_F(DesktopViewTest, RowsAreDrawnByTheDelegateWithSelectionColours) {
  CCallwatchView view(settings);
  view.resize(600, 200);
  view.show();
  addCalls(view);
  EXPECT_NE(dynamic_cast<CCallRowDelegate*>(view.itemDelegate()), nullptr);
  view.selectionModel()->select(view.Model()->index(1, 0),
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  const QImage image = view.viewport()->grab().toImage();
  const QColor highlight = view.palette().color(QPalette::Highlight);
  const QColor base = view.palette().color(QPalette::Base);
  const QRect selected = view.visualRect(view.Model()->index(1, 0));
  const QRect other = view.visualRect(view.Model()->index(0, 0));
  auto count = [&](const QRect& row, const QColor& colour) {
    int n = 0;
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, row.center().y() - row.height() / 2 + 1) == colour) ++n;
    return n;
  };
  EXPECT_GT(count(selected, highlight), image.width() / 2);
  EXPECT_EQ(count(other, highlight), 0);
  EXPECT_GT(count(other, base), image.width() / 2);
}

TEST_F(DesktopViewTest, RunningDurationsAdvanceEveryFiveSecondsAndEndedOnesStay) {
  CCallwatchView view(settings);
  addCalls(view);
  CCallLogModel& m = *view.Model();
  // The monitor starts the timer with the first active call and stops it with the last.
  EXPECT_FALSE(view.Model()->RefreshTimerObject().isActive());
  view.Model()->RefreshTimer(true);
  EXPECT_TRUE(view.Model()->RefreshTimerObject().isActive());
  EXPECT_EQ(view.Model()->RefreshTimerObject().interval(), 5000);

  QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
  now += 5;
  // What the timer does when it fires: only the running call's row is redrawn.
  QMetaObject::invokeMethod(const_cast<QTimer*>(&view.Model()->RefreshTimerObject()), "timeout", Qt::DirectConnection);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed[0][0].toModelIndex().row(), m.RowOf(records[2].get()));
  EXPECT_EQ(m.Text(*records[2], kColDuration), "5 min. 5 sec.");
  EXPECT_EQ(m.Text(*records[0], kColDuration), "1 min. 40 sec.");
  // The call ends: its duration is fixed from then on.
  records[2]->endTime = now;
  now += 60;
  EXPECT_EQ(m.Text(*records[2], kColDuration), "5 min. 5 sec.");
  view.Model()->RefreshTimer(false);
  EXPECT_FALSE(view.Model()->RefreshTimerObject().isActive());
}

TEST_F(DesktopViewTest, DialTakesTheSelectedNumberAndReportsTheThreeRefusals) {
  CCallwatchView view(settings);
  view.show();
  addCalls(view);
  std::vector<std::string> dialled;
  LONG result = 0;
  view.SetMakeCall([&](const char* n, const char* app, const char* party, const char* comment) {
    dialled.push_back(std::string(n) + "|" + app + "|" + party + "|" + (comment ? comment : "-"));
    return result;
  });
  auto rowOf = [&](size_t record) { return view.Model()->RowOf(records[record].get()); };
  auto select = [&](size_t record) {
    view.selectionModel()->select(view.Model()->index(rowOf(record), 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  };
  view.Dial();  // nothing selected
  EXPECT_TRUE(dialled.empty());
  select(3);  // "<blocked>"
  view.Dial();
  EXPECT_TRUE(dialled.empty());
  records[1]->number = "";
  select(1);
  view.Dial();
  EXPECT_TRUE(dialled.empty());

  // Letters are dialled as keypad digits.
  records[0]->number = "+1 (425) 555CALL";
  select(0);
  view.Dial();
  ASSERT_EQ(dialled.size(), 1u);
  EXPECT_EQ(dialled[0], "+1 (425) 5552255|Callwatch|bob|-");
  EXPECT_TRUE(boxes.empty());
  const std::pair<LONG, const char*> refusals[] = {
      {-2, "There is no registered Telephony request recipient."},
      {-3, "The Telephony request recipient has refused your request."},
      {-4, "The Telephony request recipient is unable to dial the phone number you entered."},
      {-16, nullptr},
      {-1, nullptr}};
  for (const auto& [code, text] : refusals) {
    boxes.clear();
    result = code;
    // Enter on the row dials as the command does.
    view.setFocus();
    view.setCurrentIndex(view.Model()->index(rowOf(0), 0));
    QTest::keyClick(&view, Qt::Key_Return);
    if (text) {
      EXPECT_EQ(boxes, std::vector<std::string>{text}) << code;
    } else {
      EXPECT_TRUE(boxes.empty()) << code;
    }
  }
  EXPECT_EQ(dialled.size(), 6u);
  // A double click on a row dials it.
  result = 0;
  select(2);
  const QRect cell = view.visualRect(view.Model()->index(rowOf(2), 0));
  QTest::mousePress(view.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_EQ(dialled.size(), 7u);
  EXPECT_EQ(dialled.back(), "+1 (206) 5550000|Callwatch|alice|-");
}

TEST_F(DesktopViewTest, SortAndColumnWidthsOutliveTheWindow) {
  {
    CCallwatchView view(settings);
    view.resize(600, 200);
    view.show();
    // No settings yet: every column at its default width, sorted by name ascending.
    for (int c = 0; c < kColumns; ++c) EXPECT_EQ(view.columnWidth(c), view.DefaultColumnWidth(c)) << c;
    EXPECT_EQ(view.SortColumn(), 0);
    EXPECT_TRUE(view.SortAscending());
    for (int c = 0; c < kColumns; ++c) view.setColumnWidth(c, 50 + 10 * c);
    view.SortBy(kColDuration, false);
  }
  QSettings s("Larkspur Soft", "Callwatch");
  EXPECT_EQ(s.value("Settings/SortColumn").toInt(), 3);
  EXPECT_EQ(s.value("Settings/SortAscending").toInt(), 0);
  EXPECT_EQ(s.value("Settings/ColumnWidth5").toInt(), 100);
  {
    CCallwatchView view(settings);
    view.resize(600, 200);
    view.show();
    for (int c = 0; c < kColumns; ++c) EXPECT_EQ(view.columnWidth(c), 50 + 10 * c) << c;
    EXPECT_EQ(view.SortColumn(), 3);
    EXPECT_FALSE(view.SortAscending());
  }
  // A bad stored value falls back to its default.
  s.setValue("Settings/SortColumn", 9);
  s.setValue("Settings/ColumnWidth2", "wide");
  s.sync();
  CCallwatchView view(settings);
  view.resize(600, 200);
  view.show();
  EXPECT_EQ(view.SortColumn(), 0);
  EXPECT_EQ(view.columnWidth(2), view.DefaultColumnWidth(2));
}

TEST_F(DesktopViewTest, TheSavedSortIsShownAtOpenAndNewRowsTakeTheirPlaceInIt) {
  // Calls whose keys tie and differ in every column, in an order no column sorts them in.
  auto make = [this] {
    records.clear();
    records.push_back(Record("Dora", "+1 (425) 5550100", 1000, 1100, 3, LINECALLSTATE_IDLE));
    records.push_back(Record("bob", "+1 (206) 5550000", 1010, 0, 1, LINECALLSTATE_OFFERING));
    records.push_back(Record("alice", "+1 (425) 5550100", 900, 1000, 4, LINECALLSTATE_IDLE));
    records.push_back(Record("Carl", "<blocked>", 1000, 1050, 3, LINECALLSTATE_CONNECTED));
    records.push_back(Record("bob", "+1 (425) 5550111", 950, 1010, 2, LINECALLSTATE_RINGBACK));
  };
  QSettings stored("Larkspur Soft", "Callwatch");
  for (int column = 0; column < kColumns; ++column)
    for (bool ascending : {true, false}) {
      // As a window closed the last time left them.
      stored.setValue("Settings/SortColumn", column);
      stored.setValue("Settings/SortAscending", ascending ? 1 : 0);
      stored.sync();
      make();
      CCallwatchView view(settings);
      view.resize(600, 200);
      view.show();
      EXPECT_EQ(view.SortColumn(), column);
      EXPECT_EQ(view.SortAscending(), ascending);
      EXPECT_TRUE(view.header()->isSortIndicatorShown());
      EXPECT_EQ(view.header()->sortIndicatorSection(), column);
      EXPECT_EQ(view.header()->sortIndicatorOrder(), ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
      // The calls come one by one, as the monitor reports them; each lands where a sort would
      // put it.
      addCalls(view, false);
      const std::string arrived = order(view);
      view.Model()->sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
      EXPECT_EQ(arrived, order(view)) << "column " << column << (ascending ? " ascending" : " descending");
      EXPECT_EQ(view.SortColumn(), column);
    }
  // Descending by name in so many words: the last call, "Aaron", lands at the bottom.
  stored.setValue("Settings/SortColumn", 0);
  stored.setValue("Settings/SortAscending", 0);
  stored.sync();
  make();
  CCallwatchView view(settings);
  view.show();
  addCalls(view, false);
  EXPECT_EQ(order(view), "ADBEC");
  records.push_back(Record("Aaron", "1", 5000, 0, 1, LINECALLSTATE_OFFERING));
  view.Model()->RecordAdded(records.back().get());
  EXPECT_EQ(order(view), "ADBECF");
}

TEST_F(DesktopViewTest, DefaultWidthsShowAWholeDateAndANameOf24Characters) {
  CMainFrame frame(setup, settings);
  frame.show();
  CCallwatchView& view = *frame.View();
  const QFontMetrics fm = view.fontMetrics();
  // Names of 24 characters, in capitals as caller ID gives them and in mixed case.
  const char* names[] = {"BARTHOLOMEW FEATHERSTONE", "MARGARET WINTERBOTTOM-OX", "WILHELMINA MONTGOMERY JR",
                         "Maximilian Aurelius Wood", "Wolfgang Amadeus Mwangi-"};
  for (const char* n : names) {
    ASSERT_EQ(std::strlen(n), 24u) << n;
    records.push_back(Record(n, "+44 (20) 7946 0000", 1000, 1100, 2, LINECALLSTATE_IDLE));
  }
  // Every day of this year, late in the evening (two-digit hours; every month and weekday name).
  const int year = QDate::currentDate().year();
  for (QDate d(year, 1, 1); d.year() == year; d = d.addDays(1))
    records.push_back(Record("x", "1", QDateTime(d, QTime(23, 59, 59)).toSecsSinceEpoch(), 0, 1, LINECALLSTATE_IDLE));
  for (auto& r : records) view.Model()->RecordAdded(r.get());
  for (int row = 0; row < view.Model()->rowCount(); ++row)
    for (int column : {kColName, kColNumber, kColDateTime}) {
      const QString whole = view.Model()->Text(*view.Model()->Record(row), column);
      ASSERT_EQ(view.ShownText(row, column), whole) << whole.toStdString();
      ASSERT_LE(fm.horizontalAdvance(whole), view.columnWidth(column) - 4) << whole.toStdString();
    }
  // The window opens wide enough for those columns, where the screen has the room.
  int columns = 0;
  for (int c = 0; c < kColumns; ++c) columns += view.columnWidth(c);
  if (view.DefaultWidth() <= frame.screen()->availableGeometry().width()) {
    EXPECT_GE(view.viewport()->width(), columns);
  }
}

TEST_F(DesktopViewTest, AutosizeFitsEveryRowsTextStateIncludedAlsoRowsOutOfSight) {
  CMainFrame frame(setup, settings);
  frame.resize(500, 200);
  frame.show();
  CCallwatchView& view = *frame.View();
  for (int i = 0; i < 60; ++i)
    records.push_back(Record("Ann", "+1 (425) 5550100", 1000 + i, 1100 + i, 2, LINECALLSTATE_IDLE));
  // The widest texts in rows far below the visible ones.
  records.push_back(Record("Bartholomew Featherstonehaugh-Cholmondeley", "+1 (425) 5550100", 2000, 2100, 1234567,
                           LINECALLSTATE_ONHOLDPENDCONF));
  records.push_back(Record("Zed", "+44 (1632) 960 000 000", 2001, 0, 2, LINECALLSTATE_ONHOLDPENDTRANSFER));
  now = 2001 + 3600 * 100;  // a call of 6000 minutes
  view.Model()->SetClock([this] { return now; });
  for (auto& r : records) view.Model()->RecordAdded(r.get());
  view.SortBy(kColDateTime, true);
  for (int c = 0; c < kColumns; ++c) view.setColumnWidth(c, 10);
  ASSERT_FALSE(
      view.viewport()->rect().intersects(view.visualRect(view.Model()->index(view.Model()->rowCount() - 1, 0))));
  frame.AutosizeAction()->trigger();
  for (int row = 0; row < view.Model()->rowCount(); ++row)
    for (int c = 0; c < kColumns; ++c)
      ASSERT_EQ(view.ShownText(row, c), view.Model()->Text(*view.Model()->Record(row), c)) << row << "," << c;
  EXPECT_EQ(view.ShownText(view.Model()->rowCount() - 2, kColState), "On Hold Pending Conference");
  // And no wider than needed: the State column ends just past its header or its widest text.
  const int state = std::max(view.fontMetrics().horizontalAdvance("On Hold Pending Conference"),
                             view.fontMetrics().horizontalAdvance("On Hold Pending Transfer"));
  EXPECT_LE(view.columnWidth(kColState), std::max(state + 16, view.header()->sectionSizeHint(kColState)));
}

TEST_F(DesktopViewTest, MainFrameMenusPromptsToolbarAndCommandEnabling) {
  CMainFrame frame(setup, settings);
  frame.show();
  EXPECT_EQ(frame.windowTitle(), "Callwatch");
  QStringList menus;
  for (QAction* a : frame.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&Monitor", "&View", "&Help"}));
  struct Expect {
    const char* text;
    const char* prompt;
    const char* tip;
  };
  const Expect expected[] = {
      {"&Dial", "Dial currently selected caller", "Dial"},
      {"&Call Screen Settings...", "Set call screen settings.", nullptr},
      {"E&xit", "Quit the application; prompts to save documents", "Exit"},
      {"Lines...", "View TAPI lines and their monitor status", "Lines"},
      {"&Messages...", "", nullptr},
      {"&Toolbar", "Show or hide the toolbar", "Toggle ToolBar"},
      {"&Status Bar", "Show or hide the status bar", "Toggle StatusBar"},
      {"&Autosize Columns", "Resize columns to size of entries", "Autosize"},
      {"&About Callwatch...", "Display program information, version number and copyright", "About"}};
  for (const Expect& e : expected) {
    QAction* a = frame.ActionNamed(e.text);
    ASSERT_NE(a, nullptr) << e.text;
    EXPECT_EQ(a->statusTip().toStdString(), e.prompt) << e.text;
    if (e.tip) { EXPECT_EQ(a->toolTip().toStdString(), e.tip) << e.text; }
  }
  // The toolbar: Dial and Autosize Columns.
  QToolBar* toolbar = frame.findChild<QToolBar*>("Toolbar");
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(toolbar->actions(), (QList<QAction*>{frame.DialAction(), frame.AutosizeAction()}));
  frame.ActionNamed("&Toolbar")->trigger();
  EXPECT_FALSE(toolbar->isVisible());

  // Dial only with a selected row, Autosize Columns only with rows.
  EXPECT_FALSE(frame.DialAction()->isEnabled());
  EXPECT_FALSE(frame.AutosizeAction()->isEnabled());
  addCalls(*frame.View());
  EXPECT_TRUE(frame.AutosizeAction()->isEnabled());
  EXPECT_FALSE(frame.DialAction()->isEnabled());
  frame.View()->selectionModel()->select(frame.View()->Model()->index(0, 0),
                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  EXPECT_TRUE(frame.DialAction()->isEnabled());
  // Autosize: every column as wide as its widest text.
  frame.View()->setColumnWidth(kColName, 5);
  frame.AutosizeAction()->trigger();
  EXPECT_GE(frame.View()->columnWidth(kColName), frame.View()->fontMetrics().horizontalAdvance("alice"));
  EXPECT_EQ(frame.View()->ShownText(frame.View()->Model()->RowOf(records[0].get()), kColDuration), "1 min. 40 sec.");
}

TEST_F(DesktopViewTest, SettingsDialogRefusesFiveAndTakesZero) {
  CScreenSettingsDlg dlg(4);
  EXPECT_EQ(dlg.windowTitle(), "Call Screening Settings");
  EXPECT_EQ(dlg.Field()->value(), 4);
  // The arrows stay within 0 to 4.
  dlg.Field()->stepUp();
  EXPECT_EQ(dlg.Field()->value(), 4);
  // Typed 5 reaches OK and is refused; the dialog stays.
  dlg.show();
  dlg.Field()->setFocus();
  dlg.Field()->selectAll();
  QTest::keyClicks(dlg.Field(), "5");
  EXPECT_EQ(dlg.Field()->text(), "5");
  dlg.accept();
  EXPECT_EQ(boxes, std::vector<std::string>{"Please enter an integer between 0 and 4."});
  EXPECT_EQ(dlg.result(), QDialog::Rejected);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.Rings(), 4);
  boxes.clear();
  dlg.Field()->selectAll();
  QTest::keyClicks(dlg.Field(), "-1");
  dlg.accept();
  EXPECT_EQ(boxes.size(), 1u);
  dlg.Field()->selectAll();
  QTest::keyClicks(dlg.Field(), "0");
  dlg.accept();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.Rings(), 0);
  EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(DesktopViewTest, AboutBoxSaysTheVersionAndClosesWithCool) {
  CAboutDlg dlg;
  dlg.show();
  bool version = false;
  for (QLabel* l : dlg.findChildren<QLabel*>()) version |= l->text() == "Callwatch Version 1.0";
  EXPECT_TRUE(version);
  const auto buttons = dlg.findChildren<QPushButton*>();
  ASSERT_EQ(buttons.size(), 1);
  EXPECT_EQ(buttons[0]->text(), "Cool");
  QTest::mouseClick(buttons[0], Qt::LeftButton);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_FALSE(dlg.isVisible());
}

}  // namespace
