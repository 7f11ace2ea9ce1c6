#pragma once
// The call log: a report list with one row per call record, its text made when a row is drawn,
// drawn row by row by the view itself, sorted by a click on a column header (Shift: descending).
// The view is also where the monitoring flow shows its records, and it owns that flow.
#include <QAbstractTableModel>
#include <QTimer>
#include <QTreeView>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

#include "core/CallMonitor.h"
#include "base/TapiDefs.h"

class QFontMetrics;

// Text wider than width loses characters from its end until the rest and "..." fit; when not even
// one character and "..." fit, the text is returned whole (and clipped where it is drawn). At
// most 255 characters are considered.
QString ShortenText(const QString& text, const QFontMetrics& metrics, int width);

enum CallColumn { kColName, kColNumber, kColDateTime, kColDuration, kColRings, kColState, kColumns };

// The rows in their shown order; the records belong to the monitor.
class CCallLogModel : public QAbstractTableModel {
public:
  using Clock = std::function<time_t()>;
  explicit CCallLogModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Append(CCallRecord* record);
  void Changed(CCallRecord* record);
  // Sorts once: rows added later go to the end.
  void Sort(int column, bool ascending);
  // Every row whose call has not ended, so that its duration advances.
  void RefreshRunning();
  void Clear();

  CCallRecord* Record(int row) const;
  int RowOf(const CCallRecord* record) const;
  QString Text(const CCallRecord& record, int column) const;
  long Duration(const CCallRecord& record) const;
  void SetClock(Clock now) { m_now = std::move(now); }

private:
  int Compare(const CCallRecord& a, const CCallRecord& b, int column) const;

  std::vector<CCallRecord*> m_rows;
  Clock m_now;
};

class CCallwatchView : public QTreeView, public ICallLogView {
public:
  using MakeCall = std::function<LONG(const char* number, const char* appName,
                                      const char* calledParty, const char* comment)>;
  static constexpr int kRefreshMs = 5000;

  explicit CCallwatchView(QWidget* parent = nullptr);
  ~CCallwatchView() override;

  // Once, when the view is first shown: sort settings, the six columns with their widths, every
  // line opened and its calls taken up, the rings applied.
  void Initialise();
  bool Initialised() const { return m_initialised; }
  // Writes the sort column, its direction and the column widths.
  void SaveSettings() const;

  void SortBy(int column, bool ascending);
  int SortColumn() const { return m_sortColumn; }
  bool SortAscending() const { return m_sortAscending; }

  void Dial();
  void AutosizeColumns();
  bool CanDial() const;
  bool CanAutosize() const;
  // The rings setting on every open line.
  void ApplyRings(int rings);

  CCallLogModel* Model() const { return m_model; }
  CCallMonitor* Monitor() const { return m_monitor.get(); }
  const QTimer& RefreshTimerObject() const { return m_refresh; }
  CCallRecord* SelectedRecord() const;
  // What the row shows in the column at its present width.
  QString ShownText(int row, int column) const;
  void SetMakeCall(MakeCall makeCall) { m_makeCall = std::move(makeCall); }
  // Called whenever what the commands may do changes (selection, rows).
  void SetCommandsChanged(std::function<void()> f) { m_commandsChanged = std::move(f); }

  // ICallLogView
  void RecordAdded(CCallRecord* record) override;
  void RecordChanged(CCallRecord* record) override;
  void RefreshTimer(bool running) override;
  std::unique_ptr<ICallScreenView> MakeScreenView(CCallRecord* record) override;

protected:
  void showEvent(QShowEvent* event) override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void CommandsChanged();

  CCallLogModel* m_model;
  std::unique_ptr<CCallMonitor> m_monitor;
  QTimer m_refresh;
  QTimer m_pump;  // the telephony events, run on this thread
  bool m_initialised = false;
  int m_sortColumn = 0;
  bool m_sortAscending = true;
  MakeCall m_makeCall;
  std::function<void()> m_commandsChanged;
};
