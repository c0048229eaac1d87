// The main window's controls: captions, kinds, places (given in twips), tab order, start states.

#include "setup/Fonts.h"
#include "setup/InstallForm.h"
#include "setup/Twips.h"
#include "setup/WrappingCheckBox.h"

#include <QFontMetrics>
#include <QStyledItemDelegate>

namespace lorvanta::setup {

namespace {

// Rows exactly one text line high, so that the row under the pointer follows from the font.
class LineHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(QFontMetrics(option.font).height());
        return size;
    }
};

template <class T> T* Place(T* control, const char* name, QRect twipsRect) {
    control->setObjectName(name);
    control->setGeometry(twipsRect);
    return control;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* caption, QRect rect) {
    return Place<QCheckBox>(new WrappingCheckBox(QString::fromUtf8(caption), parent), name, rect);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, QRect rect) {
    auto* label = Place(new QLabel(QString::fromUtf8(caption), parent), name, rect);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QListWidget* MakeList(QWidget* parent, const char* name, QRect rect) {
    auto* list = Place(new QListWidget(parent), name, rect);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setItemDelegate(new LineHeightDelegate(list));
    list->setUniformItemSizes(true);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    list->viewport()->setMouseTracking(true);
    // Long entries are cut off at the right edge; the tooltip shows them whole.
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return list;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, QRect rect) {
    return Place(new QPushButton(QString::fromUtf8(caption), parent), name, rect);
}

} // namespace

void InstallForm::CreateControls() {
    setObjectName("InstallForm");
    setFixedSize(TwipsToPixels(9645), TwipsToPixels(7170));
    setFont(DialogFont());

    installComPlusBox_ =
        MakeCheckBox(this, "Check1", "Install COM+ object", TwipsRect(120, 20, 1935, 300));
    identityLabel_ = MakeLabel(this, "Label3", "Identity:", TwipsRect(2175, 65, 615, 255));
    identityField_ = Place(new QLineEdit(this), "txtIdent", TwipsRect(2760, 30, 2055, 285));
    passwordLabel_ = MakeLabel(this, "Label2", "Password:", TwipsRect(5140, 65, 735, 255));
    passwordField_ = Place(new QLineEdit(this), "txtPwd", TwipsRect(5880, 30, 2055, 285));
    passwordField_->setEchoMode(QLineEdit::Password);
    passwordField_->setStyleSheet("lineedit-password-character: 42;");
    identityExampleLabel_ =
        MakeLabel(this, "Label7", "Example: example.com\\ExAdmin", TwipsRect(2760, 280, 2535, 255));
    registerStoreWideBox_ =
        MakeCheckBox(this, "Check2", "Register store-wide ", TwipsRect(120, 520, 1695, 375));
    registerStoreWideList_ = MakeList(this, "SysMbxInstList", TwipsRect(1920, 600, 7695, 645));
    registerSelectedBox_ = MakeCheckBox(
        this, "Check3",
        "Register in the following (selected) Mailboxes:", TwipsRect(120, 1320, 1800, 615));
    registerSelectedList_ = MakeList(this, "MbxInstList", TwipsRect(1920, 1320, 7695, 1230));
    showDisabledBox_ =
        MakeCheckBox(this, "Check7", "Show disabled", TwipsRect(480, 2040, 1440, 300));
    selectionHintLabel_ =
        MakeLabel(this, "Label1", "You can select as many mailboxes as you like  (Shift+Click)",
                  TwipsRect(2280, 2185, 7815, 495));
    selectionHintLabel_->setFont(TerminalFont());
    unregisterSelectedBox_ = MakeCheckBox(
        this, "Check4",
        "Unregister from the following (selected) Mailboxes:", TwipsRect(120, 2600, 1800, 735));
    unregisterSelectedList_ = MakeList(this, "MbxUninstList", TwipsRect(1920, 2640, 7695, 1230));
    unregisterStoreWideBox_ =
        MakeCheckBox(this, "Check5", "Unregister store-wide", TwipsRect(120, 3920, 1815, 375));
    unregisterStoreWideList_ = MakeList(this, "SysMbxUninstList", TwipsRect(1920, 3960, 7695, 645));
    uninstallComPlusBox_ =
        MakeCheckBox(this, "Check6", "Uninstall COM+ object ", TwipsRect(120, 4800, 2055, 375));
    errorLogBox_ = Place(new QPlainTextEdit(this), "txtErr", TwipsRect(1920, 5280, 7695, 1095));
    errorLogBox_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    errorLogBox_->setReadOnly(true);
    progressBar_ = Place(new RowProgressBar(this), "Picture1", TwipsRect(240, 5640, 9135, 375));
    clearLogButton_ =
        MakeButton(this, "Command3", "Clear Error Log", TwipsRect(240, 5640, 1575, 375));
    applyButton_ = MakeButton(this, "Command1", "CHANGE", TwipsRect(3120, 6480, 1575, 375));
    exitButton_ = MakeButton(this, "Command2", "Exit", TwipsRect(5040, 6480, 1575, 375));

    // Labels are drawn on the window's surface, beneath every other control that overlaps them.
    for (auto* label :
         {selectionHintLabel_, passwordLabel_, identityLabel_, identityExampleLabel_}) {
        label->setFocusPolicy(Qt::NoFocus);
        label->lower();
    }
    progressBar_->setFocusPolicy(Qt::NoFocus);

    // Tab order of the focusable controls.
    const QWidget* order[] = {installComPlusBox_,
                              uninstallComPlusBox_,
                              applyButton_,
                              exitButton_,
                              registerSelectedList_,
                              unregisterSelectedList_,
                              clearLogButton_,
                              registerStoreWideBox_,
                              registerSelectedBox_,
                              unregisterStoreWideBox_,
                              unregisterSelectedBox_,
                              identityField_,
                              passwordField_,
                              errorLogBox_,
                              showDisabledBox_,
                              registerStoreWideList_,
                              unregisterStoreWideList_};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));

    // Start states.
    for (auto* box :
         {installComPlusBox_, registerStoreWideBox_, unregisterStoreWideBox_, uninstallComPlusBox_})
        box->setEnabled(false);
    errorLogBox_->setVisible(false);
    clearLogButton_->setVisible(false);
}

} // namespace lorvanta::setup
