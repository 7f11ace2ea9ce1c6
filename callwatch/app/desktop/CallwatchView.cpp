#include "app/desktop/CallwatchView.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>

#include "app/desktop/DesktopMessages.h"
#include "core/PhoneNumber.h"
#include "core/TapiBinding.h"

namespace {

constexpr int kMostTextLength = 255;  // texts are handled in buffers of 256 characters
constexpr int kCellInset = 4;         // a cell's text is shortened to its width less this
constexpr int kColumnGap = 6;         // room between a column's widest text and the next column
constexpr int kNameCharacters = 24;   // a column wide enough for a name of this many characters
const char* const kHeaders[kColumns] = {"Name", "Phone No.", "Date/Time", "Duration", "Rings", "State"};

int CompareText(const std::string& a, const std::string& b) {
  return QString::compare(QString::fromStdString(a), QString::fromStdString(b), Qt::CaseInsensitive);
}
template <typename T>
int CompareValue(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

QString ShortenText(const QString& text, const QFontMetrics& metrics, int width) {
  const QString bounded = text.left(kMostTextLength);
  if (metrics.horizontalAdvance(bounded) <= width) return bounded;
  const QString dots = "...";
  for (int keep = bounded.size() - 1; keep > 0; --keep) {
    const QString shortened = bounded.left(keep) + dots;
    if (metrics.horizontalAdvance(shortened) <= width) return shortened;
  }
  return bounded;
}

// ---- model ------------------------------------------------------------------------------------

CCallLogModel::CCallLogModel(QObject* parent) : QAbstractTableModel(parent), m_now([] { return std::time(nullptr); }) {
  m_refresh.setInterval(kRefreshMs);
  connect(&m_refresh, &QTimer::timeout, this, [this] { RefreshRunning(); });
}

int CCallLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}
int CCallLogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CCallLogModel::data(const QModelIndex& index, int role) const {
  const CCallRecord* r = Record(index.row());
  if (!r || role != Qt::DisplayRole) return {};
  return Text(*r, index.column());
}

QVariant CCallLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns) return {};
  return QString(kHeaders[section]);
}

QString CCallLogModel::DateTimeText(time_t when) {
  return QLocale().toString(QDateTime::fromSecsSinceEpoch(when), QLocale::LongFormat);
}

long CCallLogModel::Duration(const CCallRecord& r) const {
  const time_t end = r.endTime ? r.endTime : m_now();
  return static_cast<long>(end - r.startTime);
}

QString CCallLogModel::Text(const CCallRecord& r, int column) const {
  switch (column) {
    case kColName: return QString::fromStdString(r.name);
    case kColNumber: return QString::fromStdString(r.number);
    case kColDateTime: return DateTimeText(r.startTime);
    case kColDuration: {
      const long d = Duration(r);
      return QString("%1 min. %2 sec.").arg(d / 60).arg(d % 60);
    }
    case kColRings: return QString::number(r.rings);
    case kColState: return QString(r.StateName());
    default: return {};
  }
}

CCallRecord* CCallLogModel::Record(int row) const {
  return row >= 0 && row < static_cast<int>(m_rows.size()) ? m_rows[row] : nullptr;
}

int CCallLogModel::RowOf(const CCallRecord* record) const {
  for (size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i] == record) return static_cast<int>(i);
  return -1;
}

void CCallLogModel::RefreshRunning() {
  for (size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i]->endTime == 0) {
      const int row = static_cast<int>(i);
      emit dataChanged(index(row, 0), index(row, kColumns - 1));
    }
}

void CCallLogModel::Clear() {
  beginResetModel();
  m_rows.clear();
  endResetModel();
}

int CCallLogModel::Compare(const CCallRecord& a, const CCallRecord& b, int column) const {
  int c = 0;
  switch (column) {
    case kColName:
      if ((c = CompareText(a.name, b.name))) return c;
      return CompareValue(a.startTime, b.startTime);
    case kColNumber:
      if ((c = CompareText(a.number, b.number))) return c;
      if ((c = CompareText(a.name, b.name))) return c;
      return CompareValue(a.startTime, b.startTime);
    case kColDateTime:
      if ((c = CompareValue(a.startTime, b.startTime))) return c;
      return CompareText(a.name, b.name);
    case kColDuration:
      if ((c = CompareValue(Duration(a), Duration(b)))) return c;
      return CompareText(a.name, b.name);
    case kColRings:
      if ((c = CompareValue(a.rings, b.rings))) return c;
      if ((c = CompareValue(a.startTime, b.startTime))) return c;
      return CompareText(a.name, b.name);
    case kColState:
      if ((c = CompareText(a.StateName(), b.StateName()))) return c;
      if ((c = CompareValue(a.startTime, b.startTime))) return c;
      return CompareText(a.name, b.name);
    default: return 0;
  }
}

void CCallLogModel::SetSortState(int column, bool ascending) {
  if (column < 0 || column >= kColumns) return;
  m_sortColumn = column;
  m_sortAscending = ascending;
}

void CCallLogModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kColumns) return;
  const bool ascending = order == Qt::AscendingOrder;
  SetSortState(column, ascending);
  emit layoutAboutToBeChanged();
  const QModelIndexList before = persistentIndexList();
  std::vector<CCallRecord*> held;
  for (const QModelIndex& i : before) held.push_back(Record(i.row()));
  std::stable_sort(m_rows.begin(), m_rows.end(), [&](CCallRecord* a, CCallRecord* b) {
    return ascending ? Compare(*a, *b, column) < 0 : Compare(*b, *a, column) < 0;
  });
  QModelIndexList after;
  for (size_t i = 0; i < held.size(); ++i) after.push_back(index(RowOf(held[i]), before[i].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

int CCallLogModel::InsertionRow(const CCallRecord& record) const {
  // Before the first row that the shown order puts after it, so that rows equal to it keep
  // their order of arrival (rows changed since the last sort may be out of order: they stay).
  for (size_t i = 0; i < m_rows.size(); ++i) {
    const int c = Compare(record, *m_rows[i], m_sortColumn);
    if (m_sortAscending ? c < 0 : c > 0) return static_cast<int>(i);
  }
  return static_cast<int>(m_rows.size());
}

void CCallLogModel::RecordAdded(CCallRecord* record) {
  if (!record || RowOf(record) >= 0) return;
  const int row = InsertionRow(*record);
  beginInsertRows(QModelIndex(), row, row);
  m_rows.insert(m_rows.begin() + row, record);
  endInsertRows();
}

void CCallLogModel::RecordChanged(CCallRecord* record) {
  const int row = RowOf(record);
  if (row >= 0) emit dataChanged(index(row, 0), index(row, kColumns - 1));
}

void CCallLogModel::RefreshTimer(bool running) {
  if (running) m_refresh.start();
  else m_refresh.stop();
}

std::unique_ptr<ICallScreenView> CCallLogModel::MakeScreenView(CCallRecord* record) {
  return m_screenViews ? m_screenViews(record) : nullptr;
}

// ---- delegate ---------------------------------------------------------------------------------

void CCallRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  // The view's own palette and font, as the list has always been drawn.
  const QWidget* view = option.widget;
  const QPalette& pal = view ? view->palette() : option.palette;
  const QFont font = view ? view->font() : option.font;
  const QFontMetrics metrics(font);
  const bool selected = option.state & QStyle::State_Selected;
  const QColor text = pal.color(selected ? QPalette::HighlightedText : QPalette::Text);
  const QColor back = pal.color(selected ? QPalette::Highlight : QPalette::Base);
  const QRect& cell = option.rect;
  painter->save();
  painter->setFont(font);
  painter->setPen(text);
  painter->setClipRect(cell);
  painter->fillRect(cell, back);  // opaque
  painter->drawText(cell.left() + 2, cell.top() + 1 + metrics.ascent(),
                    ShortenText(index.data(Qt::DisplayRole).toString(), metrics, cell.width() - kCellInset));
  painter->restore();
}

// ---- view -------------------------------------------------------------------------------------

CCallwatchView::CCallwatchView(ISettingsStore& settings, QWidget* parent)
    : QTreeView(parent),
      m_settings(settings),
      m_model(new CCallLogModel(this)),
      m_makeCall([](const char* n, const char* a, const char* c, const char* m) {
        return tapi::tapiRequestMakeCallA(n, a, c, m);
      }) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(new CCallRowDelegate(this));
  setModel(m_model);
  // Setting the model turns header clicks and the indicator off again: they come after it.
  header()->setStretchLastSection(false);
  header()->setSectionsClickable(true);
  // The list is always in an order, the saved one from the start (Initialise): the header shows
  // which, and the widths made for it leave room for the arrow.
  header()->setSortIndicatorShown(true);
  header()->setSortIndicator(m_model->SortColumn(),
                             m_model->SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
  connect(header(), &QHeaderView::sectionClicked, this,
          [this](int column) { SortBy(column, !(QApplication::keyboardModifiers() & Qt::ShiftModifier)); });
  connect(this, &QTreeView::doubleClicked, this, [this](const QModelIndex&) { Dial(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { CommandsChanged(); });
  connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { CommandsChanged(); });
  connect(m_model, &QAbstractItemModel::modelReset, this, [this] { CommandsChanged(); });
}

CCallwatchView::~CCallwatchView() { Finish(); }

void CCallwatchView::Finish() {
  // The frame that asked to hear of command changes is being destroyed around this view: what
  // the teardown changes must not call back into it.
  m_commandsChanged = nullptr;
  if (m_initialised) SaveSettings();
  m_initialised = false;
}

void CCallwatchView::showEvent(QShowEvent* event) {
  QTreeView::showEvent(event);
  if (!m_initialised) Initialise();
}

void CCallwatchView::Initialise() {
  if (m_initialised) return;
  const CCallwatchSettings s = CCallwatchSettings::Load(m_settings, kNoWidth);
  // The saved order is the shown order from the start: rows that come later are placed in it.
  SortBy(s.sortColumn, s.sortAscending);
  for (int i = 0; i < kColumns; ++i)
    header()->resizeSection(i, s.columnWidths[i] == kNoWidth ? DefaultColumnWidth(i) : s.columnWidths[i]);
  m_initialised = true;
}

int CCallwatchView::DefaultColumnWidth(int column) const {
  const QFontMetrics metrics = fontMetrics();
  int text = 0;
  auto fit = [&](const QString& sample) { text = std::max(text, metrics.horizontalAdvance(sample)); };
  switch (column) {
    case kColName: {
      // Caller-ID names come in capitals as often as not: 24 capitals of average width.
      const QString capitals = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
      text = (metrics.horizontalAdvance(capitals) * kNameCharacters + capitals.size() - 1) / capitals.size();
      break;
    }
    case kColNumber:
      fit("+1 (425) 555-0123");
      fit("+44 (20) 7946 0000");
      break;
    case kColDateTime: {
      // The widest day and month names of this year, two-digit days and hours, summer time or not.
      const int year = QDate::currentDate().year();
      for (int month = 1; month <= 12; ++month)
        for (int day = 22; day <= 28; ++day)  // seven days: every day of the week
          fit(CCallLogModel::DateTimeText(QDateTime(QDate(year, month, day), QTime(22, 58, 58)).toSecsSinceEpoch()));
      break;
    }
    case kColDuration: fit("99 min. 59 sec."); break;
    case kColRings: fit("99"); break;
    case kColState:
      for (DWORD bit = 0; bit < 16; ++bit) fit(CallStateName(DWORD{1} << bit));
      break;
    default: break;
  }
  return std::max(header()->sectionSizeHint(column), text + kCellInset + kColumnGap);
}

int CCallwatchView::DefaultWidth() const {
  int width = 2 * frameWidth() + verticalScrollBar()->sizeHint().width();
  for (int i = 0; i < kColumns; ++i) width += DefaultColumnWidth(i);
  return width;
}

void CCallwatchView::SaveSettings() const {
  CCallwatchSettings s;
  s.sortColumn = m_model->SortColumn();
  s.sortAscending = m_model->SortAscending();
  for (int i = 0; i < kColumns; ++i) s.columnWidths[i] = header()->sectionSize(i);
  s.SaveView(m_settings);
}

void CCallwatchView::SortBy(int column, bool ascending) {
  if (column < 0 || column >= kColumns) return;
  const Qt::SortOrder order = ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
  m_model->sort(column, order);
  header()->setSortIndicatorShown(true);
  header()->setSortIndicator(column, order);
}

CCallRecord* CCallwatchView::SelectedRecord() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? nullptr : m_model->Record(rows.first().row());
}

bool CCallwatchView::CanDial() const { return SelectedRecord() != nullptr; }
bool CCallwatchView::CanAutosize() const { return m_model->rowCount() > 0; }

void CCallwatchView::Dial() {
  const CCallRecord* r = SelectedRecord();
  if (!r || r->number.empty() || r->number[0] == '<') return;
  CPhoneNumber number;
  number.SetFromText(r->number.c_str());
  const auto dialable = number.GetDialable(CPhoneNumber::kKeypadLetters);
  if (!dialable) return;
  const LONG result = m_makeCall(dialable->c_str(), "Callwatch", r->name.c_str(), nullptr);
  if (result == TAPIERR_NOREQUESTRECIPIENT) ShowMessage(this, messages::kNoRequestRecipient);
  else if (result == TAPIERR_REQUESTQUEUEFULL) ShowMessage(this, messages::kRequestRefused);
  else if (result == TAPIERR_INVALDESTADDRESS) ShowMessage(this, messages::kCannotDial);
}

void CCallwatchView::AutosizeColumns() {
  // Every row's text, not only the rows in sight, measured as the rows are drawn.
  const QFontMetrics metrics = fontMetrics();
  for (int column = 0; column < kColumns; ++column) {
    int text = 0;
    for (int row = 0; row < m_model->rowCount(); ++row)
      text =
          std::max(text, metrics.horizontalAdvance(m_model->Text(*m_model->Record(row), column).left(kMostTextLength)));
    header()->resizeSection(column, std::max(header()->sectionSizeHint(column), text + kCellInset + kColumnGap));
  }
}

QString CCallwatchView::ShownText(int row, int column) const {
  const CCallRecord* r = m_model->Record(row);
  if (!r) return {};
  return ShortenText(m_model->Text(*r, column), fontMetrics(), columnWidth(column) - kCellInset);
}

void CCallwatchView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    Dial();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void CCallwatchView::CommandsChanged() {
  if (m_commandsChanged) m_commandsChanged();
}
