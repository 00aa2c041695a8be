// The result grid's model: the rows of an aligned database (Aligned_Table),
// held without a copy and shown through a permutation made by the first sort
// (until then the loaded order), so sorting moves indexes and never data, and
// the highlight of one Align_ID answered per row from one stored value.
#ifndef VARNEL_UI_ALIGN_TABLE_MODEL_H_
#define VARNEL_UI_ALIGN_TABLE_MODEL_H_

#include <QAbstractTableModel>
#include <QColor>
#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "ui/grid/aligned_table.h"
#include "ui/viz_plot.h"

namespace Varnel {

// Background of every row of the highlighted alignment ("lightgreen").
inline const QColor kHighlightColor{144, 238, 144};

class Align_Table_Model : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit Align_Table_Model(QObject* parent = nullptr);

  // Replaces the table; drops the sort order and the highlight.
  void Set_Table(Aligned_Table table);
  const Aligned_Table& Table() const { return table_; }
  // Whether Align_RT is on a drift-corrected scale (the header tooltips say so).
  void Set_Drift_Corrected(bool corrected) { drift_corrected_ = corrected; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Stable sort of the rows by one column; persistent indexes (the selection)
  // follow their rows.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // Rows whose Align_ID cell is the integer align_id get the highlight; none
  // with std::nullopt. Repaints through dataChanged of the background role.
  void Set_Highlight(std::optional<std::int64_t> align_id);
  std::optional<std::int64_t> Highlight() const { return highlight_; }
  bool Is_Highlighted(int row) const;

  // The cell of a displayed row as an integer; std::nullopt when the cell
  // holds no integer of 32 bits. REQUIRES: 0 <= row < rowCount().
  std::optional<int> Int_Cell(int row, int column) const;
  // The cell's display text (the 8-bit texts decoded from the local 8-bit
  // encoding by From_Engine_String).
  QString Text_Cell(int row, int column) const;
  // Table row behind a displayed row.
  std::size_t Source_Row(int row) const {
    return order_.empty() ? static_cast<std::size_t>(row) : order_[static_cast<std::size_t>(row)];
  }

 private:
  Aligned_Table table_;
  // Displayed row -> table row; empty until the first sort (the loaded order).
  std::vector<std::uint32_t> order_;
  std::optional<std::int64_t> highlight_;
  bool drift_corrected_ = false;
};

}  // namespace Varnel

#endif  // VARNEL_UI_ALIGN_TABLE_MODEL_H_
