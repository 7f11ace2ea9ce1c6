#pragma once
// The call log: a report list with one row per call record. The model holds the rows, hears the
// monitoring flow's call-log events and sorts; a delegate draws each row's cells; the view shows
// them, takes header clicks (Shift: descending), dials and keeps its columns in the settings.
#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

#include "base/TapiDefs.h"
#include "core/CallMonitor.h"
#include "core/Settings.h"

class QFontMetrics;

// Text wider than width loses characters from its end until the rest and "..." fit; when not even
// one character and "..." fit, the text is returned whole (and clipped where it is drawn). At
// most 255 characters are considered.
QString ShortenText(const QString& text, const QFontMetrics& metrics, int width);

enum CallColumn { kColName, kColNumber, kColDateTime, kColDuration, kColRings, kColState, kColumns };

// The rows in their shown order; the records belong to the monitor. Sorted once per request;
// a row added later is placed in that order, and changed rows keep their place.
class CCallLogModel : public QAbstractTableModel, public ICallLogView {
public:
  using Clock = std::function<time_t()>;
  using ScreenViews = std::function<std::unique_ptr<ICallScreenView>(CCallRecord*)>;
  static constexpr int kRefreshMs = 5000;

  explicit CCallLogModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // The sort last asked for (or read from the settings), whether or not rows were sorted yet.
  int SortColumn() const { return m_sortColumn; }
  bool SortAscending() const { return m_sortAscending; }
  void SetSortState(int column, bool ascending);

  // ICallLogView: the monitoring flow's records.
  void RecordAdded(CCallRecord* record) override;
  void RecordChanged(CCallRecord* record) override;
  void RefreshTimer(bool running) override;
  std::unique_ptr<ICallScreenView> MakeScreenView(CCallRecord* record) override;
  // What a new incoming call's screen shows; none: nothing.
  void SetScreenViews(ScreenViews make) { m_screenViews = std::move(make); }

  // Every row whose call has not ended, so that its duration advances.
  void RefreshRunning();
  const QTimer& RefreshTimerObject() const { return m_refresh; }
  void Clear();

  CCallRecord* Record(int row) const;
  int RowOf(const CCallRecord* record) const;
  QString Text(const CCallRecord& record, int column) const;
  long Duration(const CCallRecord& record) const;
  // The start time as the Date/Time column shows it.
  static QString DateTimeText(time_t when);
  void SetClock(Clock now) { m_now = std::move(now); }

private:
  int Compare(const CCallRecord& a, const CCallRecord& b, int column) const;
  // Where a new record goes in the order last sorted by.
  int InsertionRow(const CCallRecord& record) const;

  std::vector<CCallRecord*> m_rows;
  Clock m_now;
  ScreenViews m_screenViews;
  QTimer m_refresh;
  int m_sortColumn = 0;
  bool m_sortAscending = true;
};

// Draws a row's cells as the call log has always looked: the selection's colours or the list's,
// each cell filled, its text 2 pixels in and 1 down, shortened with "..." to the cell's width.
class CCallRowDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class CCallwatchView : public QTreeView {
public:
  using MakeCall =
      std::function<LONG(const char* number, const char* appName, const char* calledParty, const char* comment)>;

  explicit CCallwatchView(ISettingsStore& settings, QWidget* parent = nullptr);
  ~CCallwatchView() override;

  // Once, when the view is first shown: the saved sort applied and the six columns given their
  // saved widths, or wide enough for their usual texts (a whole date, a name of 24 characters).
  void Initialise();
  bool Initialised() const { return m_initialised; }
  // Writes the sort column, its direction and the column widths.
  void SaveSettings() const;
  // The view closes: its settings written once, nothing more told to the frame.
  void Finish();

  void SortBy(int column, bool ascending);
  int SortColumn() const { return m_model->SortColumn(); }
  bool SortAscending() const { return m_model->SortAscending(); }

  void Dial();
  // Every column as wide as its widest text in any row, or its header.
  void AutosizeColumns();
  // A column's width before the user sets one.
  int DefaultColumnWidth(int column) const;
  // What the list needs to show every column at its default width.
  int DefaultWidth() const;
  bool CanDial() const;
  bool CanAutosize() const;

  CCallLogModel* Model() const { return m_model; }
  CCallRecord* SelectedRecord() const;
  // What the row shows in the column at its present width.
  QString ShownText(int row, int column) const;
  void SetMakeCall(MakeCall makeCall) { m_makeCall = std::move(makeCall); }
  // Called whenever what the commands may do changes (selection, rows).
  void SetCommandsChanged(std::function<void()> f) { m_commandsChanged = std::move(f); }

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  static constexpr int kNoWidth = -1;  // a column width the settings do not hold
  void CommandsChanged();

  ISettingsStore& m_settings;
  CCallLogModel* m_model;
  bool m_initialised = false;
  MakeCall m_makeCall;
  std::function<void()> m_commandsChanged;
};
