#pragma once
// The phone model picker: a drop-down tree of makers and their models.
//
// "data/phonecompany.ini" groups the models by maker. Section "COMPANY" lists the makers in the
// order the tree shows them (COUNT=n, COMPANY1..COMPANYn=maker); each maker has a section of its
// name listing its models (COUNT=n, PHONE1..PHONEn=model name of the phone model list):
//   [COMPANY]
//   COUNT=1
//   COMPANY1=诺基亚
//   [诺基亚]
//   COUNT=1
//   PHONE1=诺基亚7650
// Without a "COMPANY" section every section is a maker. A model the file does not name goes under
// the maker whose name starts its model name, else under "其他".
#include <QComboBox>
#include <QStandardItemModel>
#include <string>
#include <string_view>
#include <vector>

#include "include/handvane/export.h"

namespace hv::ui {

class HV_EXPORT PhoneCompanies {
 public:
  struct Maker {
    std::string name;                 // GBK
    std::vector<std::string> models;  // model names, GBK
  };
  // False when the file is missing or names no maker.
  bool load(std::string_view path);
  const std::vector<Maker>& makers() const { return makers_; }
  // The maker a model belongs to (see above); "其他" when none.
  std::string makerOf(std::string_view modelName) const;

 private:
  std::vector<Maker> makers_;
};

}  // namespace hv::ui

class QTreeView;

class HV_EXPORT CPhoneTypeTree : public QComboBox {
  Q_OBJECT
 public:
  explicit CPhoneTypeTree(QWidget* parent = nullptr);

  // Puts the file's makers into the tree (empty makers stay hidden until a model is added).
  bool LoadPhoneCompany(std::string_view path);
  // Adds a model (GBK name) under its maker; returns its item handle (>= 0).
  int AddString(std::string_view modelName);
  // Orders the models of each maker by name; makers keep the file's order.
  void Sort();
  // Takes the place (geometry, layout slot, object name) of a placeholder widget of the dialog,
  // which is deleted; false when there is none.
  bool SubclassDlgItem(QWidget* placeholder);
  // The same for the dialog's control of that id (the views name their controls "c<id>").
  bool SubclassDlgItem(int id, QWidget* parent);

  // The selected model's handle, or -1.
  int GetCurSel() const;
  bool SetCurSel(int item);
  // Selects the model of that name; false when it is not in the tree.
  bool SelectString(std::string_view modelName);
  std::string GetItemText(int item) const;
  int GetItemData(int item) const;
  void SetItemData(int item, int data);
  int GetCount() const;
  void ResetContent();

  QStandardItemModel* treeModel() const { return model_; }
  QTreeView* treeView() const { return tree_; }

 Q_SIGNALS:
  // The user picked a model.
  void modelSelected(int item);

 public:
  void showPopup() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry {
    QStandardItem* item;
    int data;
  };
  QStandardItem* makerItem(const std::string& maker);
  void pick(const QModelIndex& index);

  hv::ui::PhoneCompanies companies_;
  QStandardItemModel* model_;
  QTreeView* tree_;
  std::vector<Entry> entries_;
  int current_ = -1;
};
