#pragma once
// A combo box with a recipient's typing history (ui/UI/receiverhistory.h).
#include <QComboBox>
#include <string>
#include <string_view>

#include "include/handvane/export.h"
#include "ui/UI/receiverhistory.h"

// A combo box with a typing history. The list may also hold entries the dialog adds itself (the
// friends, each with its index as item data); history entries carry the item data -1.
class HV_EXPORT CACCombox : public QComboBox {
 public:
  explicit CACCombox(QWidget* parent = nullptr);

  void Init();
  // Loads the history of section `key` from the file and lists it after the dialog's own entries.
  bool LoadHistory(std::string_view profileFile, std::string_view key);
  // Records the text being shown (GBK) and saves the history when one was loaded, so that a dialog
  // that never reaches SaveHistory still keeps it.
  void AddCurrent();
  bool SaveHistory() const;

  int GetItemData(int index) const;
  void SetItemData(int index, int data);
  // GBK text of the edit part.
  std::string GetText() const;
  void SetText(std::string_view gbk);

  const hv::ui::ReceiverHistory& history() const { return history_; }

 private:
  void relistHistory();
  hv::ui::ReceiverHistory history_;
};
