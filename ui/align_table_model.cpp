#include "ui/align_table_model.h"

#include "ui/result_export_ui.h"

#include <QBrush>
#include <algorithm>
#include <limits>
#include <numeric>

#include "ui/text_codec.h"

namespace Varnel {

Align_Table_Model::Align_Table_Model(QObject* parent) : QAbstractTableModel(parent) {}

void Align_Table_Model::Set_Table(Aligned_Table table) {
  beginResetModel();
  table_ = std::move(table);
  std::vector<std::uint32_t>().swap(order_);
  highlight_.reset();
  endResetModel();
}

int Align_Table_Model::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(
      std::min<std::size_t>(table_.Row_Count(), std::numeric_limits<int>::max()));
}

int Align_Table_Model::columnCount(const QModelIndex& parent) const {
  // An empty model (no database opened yet) shows no columns either.
  if (parent.isValid() || table_.Column_Name(kCol_EIC_ID).empty()) return 0;
  return kAlignedColumnCount;
}

QString Align_Table_Model::Text_Cell(int row, int column) const {
  const std::size_t r = Source_Row(row);
  switch (table_.Kind(r, column)) {
    case Cell_Kind::kNull:
      return {};
    case Cell_Kind::kInteger:
      return QString::number(table_.Integer(r, column));
    case Cell_Kind::kReal:
      return Format_General(table_.Real(r, column));
    default:
      return From_Engine_String(table_.Text(r, column));
  }
}

std::optional<int> Align_Table_Model::Int_Cell(int row, int column) const {
  const std::size_t r = Source_Row(row);
  if (table_.Kind(r, column) != Cell_Kind::kInteger) return std::nullopt;
  const std::int64_t v = table_.Integer(r, column);
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(v);
}

bool Align_Table_Model::Is_Highlighted(int row) const {
  if (!highlight_) return false;
  const std::size_t r = Source_Row(row);
  if (table_.Column_Is_Regular(kCol_Align_ID))
    return table_.Int_Column(kCol_Align_ID)[r] == *highlight_;
  return table_.Kind(r, kCol_Align_ID) == Cell_Kind::kInteger &&
         table_.Integer(r, kCol_Align_ID) == *highlight_;
}

QVariant Align_Table_Model::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kAlignedColumnCount)
    return {};
  switch (role) {
    case Qt::DisplayRole:
      return Text_Cell(index.row(), index.column());
    case Qt::BackgroundRole:
      return Is_Highlighted(index.row()) ? QVariant(QBrush(kHighlightColor))
                                         : QVariant(QBrush(Qt::white));
    case Qt::ForegroundRole:
      return Is_Highlighted(index.row()) ? QVariant(QBrush(Qt::black)) : QVariant();
    case Qt::TextAlignmentRole:
      return table_.Column_Kind(index.column()) == Cell_Kind::kText
                 ? QVariant(int(Qt::AlignLeft | Qt::AlignVCenter))
                 : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
    default:
      return {};
  }
}

QVariant Align_Table_Model::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role == Qt::ToolTipRole && orientation == Qt::Horizontal && section >= 0 &&
      section < kAlignedColumnCount) {
    const QString tip =
        Column_Unit_Tip(QString::fromStdString(table_.Column_Name(section)), drift_corrected_);
    return tip.isEmpty() ? QVariant() : QVariant(tip);
  }
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= kAlignedColumnCount) return {};
  return QString::fromStdString(table_.Column_Name(section));
}

void Align_Table_Model::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kAlignedColumnCount || table_.Row_Count() == 0) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList persistent = persistentIndexList();
  std::vector<std::uint32_t> old_rows;
  old_rows.reserve(static_cast<std::size_t>(persistent.size()));
  for (const QModelIndex& i : persistent)
    old_rows.push_back(static_cast<std::uint32_t>(Source_Row(i.row())));
  if (order_.empty()) {
    order_.resize(static_cast<std::size_t>(rowCount()));
    std::iota(order_.begin(), order_.end(), 0u);
  }

  const bool descending = order == Qt::DescendingOrder;
  auto sort_by = [&](auto key_less) {
    if (descending)
      std::stable_sort(order_.begin(), order_.end(),
                       [&](std::uint32_t a, std::uint32_t b) { return key_less(b, a); });
    else
      std::stable_sort(order_.begin(), order_.end(), key_less);
  };
  // A regular column is unpacked into one key per table row first, so the
  // comparisons read plain arrays.
  const std::size_t rows = table_.Row_Count();
  auto sort_by_keys = [&sort_by](const auto& keys) {
    sort_by([&keys](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
  };
  if (table_.Column_Is_Regular(column)) {
    switch (table_.Column_Kind(column)) {
      case Cell_Kind::kInteger: {
        const auto& v = table_.Int_Column(column);
        std::vector<std::int32_t> keys(rows);
        for (std::size_t r = 0; r < rows; ++r) keys[r] = v[r];
        sort_by_keys(keys);
        break;
      }
      case Cell_Kind::kReal: {
        const auto& v = table_.Real_Column(column);
        std::vector<double> keys(rows);
        for (std::size_t r = 0; r < rows; ++r) keys[r] = v[r];
        sort_by_keys(keys);
        break;
      }
      default: {
        // Rank the few distinct texts once, then compare ranks.
        const auto& pool = table_.Text_Pool(column);
        std::vector<std::uint32_t> by_text(pool.size());
        std::iota(by_text.begin(), by_text.end(), 0u);
        std::sort(by_text.begin(), by_text.end(),
                  [&pool](std::uint32_t a, std::uint32_t b) { return pool[a] < pool[b]; });
        std::vector<std::uint32_t> rank(pool.size());
        for (std::size_t i = 0; i < by_text.size(); ++i) {
          rank[by_text[i]] = (i > 0 && pool[by_text[i]] == pool[by_text[i - 1]])
                                 ? rank[by_text[i - 1]]
                                 : static_cast<std::uint32_t>(i);
        }
        const auto& ids = table_.Text_Ids(column);
        std::vector<std::uint32_t> keys(rows);
        for (std::size_t r = 0; r < rows; ++r) keys[r] = rank[ids[r]];
        sort_by_keys(keys);
        break;
      }
    }
  } else {
    sort_by([&](std::uint32_t a, std::uint32_t b) { return table_.Compare(a, b, column) < 0; });
  }

  if (!persistent.isEmpty()) {
    std::vector<std::uint32_t> position(order_.size());
    for (std::size_t i = 0; i < order_.size(); ++i)
      position[order_[i]] = static_cast<std::uint32_t>(i);
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (qsizetype k = 0; k < persistent.size(); ++k)
      moved.push_back(index(static_cast<int>(position[old_rows[static_cast<std::size_t>(k)]]),
                            persistent[k].column()));
    changePersistentIndexList(persistent, moved);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void Align_Table_Model::Set_Highlight(std::optional<std::int64_t> align_id) {
  if (align_id == highlight_) return;
  highlight_ = align_id;
  if (rowCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, kAlignedColumnCount - 1),
                     {Qt::BackgroundRole, Qt::ForegroundRole});
}

}  // namespace Varnel
