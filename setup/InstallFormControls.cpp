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
    list->setLayoutMode(QListView::Batched);
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

    Check1 = MakeCheckBox(this, "Check1", "Install COM+ object", TwipsRect(120, 20, 1935, 300));
    Label3 = MakeLabel(this, "Label3", "Identity:", TwipsRect(2175, 65, 615, 255));
    txtIdent = Place(new QLineEdit(this), "txtIdent", TwipsRect(2760, 30, 2055, 285));
    Label2 = MakeLabel(this, "Label2", "Password:", TwipsRect(5140, 65, 735, 255));
    txtPwd = Place(new QLineEdit(this), "txtPwd", TwipsRect(5880, 30, 2055, 285));
    txtPwd->setEchoMode(QLineEdit::Password);
    txtPwd->setStyleSheet("lineedit-password-character: 42;");
    Label7 =
        MakeLabel(this, "Label7", "Example: example.com\\ExAdmin", TwipsRect(2760, 280, 2535, 255));
    Check2 = MakeCheckBox(this, "Check2", "Register store-wide ", TwipsRect(120, 520, 1695, 375));
    SysMbxInstList = MakeList(this, "SysMbxInstList", TwipsRect(1920, 600, 7695, 645));
    Check3 = MakeCheckBox(this, "Check3", "Register in the following (selected) Mailboxes:",
                          TwipsRect(120, 1320, 1800, 615));
    MbxInstList = MakeList(this, "MbxInstList", TwipsRect(1920, 1320, 7695, 1230));
    Check7 = MakeCheckBox(this, "Check7", "Show disabled", TwipsRect(480, 2040, 1440, 300));
    Label1 =
        MakeLabel(this, "Label1", "You can select as many mailboxes as you like  (Shift+Click)",
                  TwipsRect(2280, 2185, 7815, 495));
    Label1->setFont(TerminalFont());
    Check4 = MakeCheckBox(this, "Check4", "Unregister from the following (selected) Mailboxes:",
                          TwipsRect(120, 2600, 1800, 735));
    MbxUninstList = MakeList(this, "MbxUninstList", TwipsRect(1920, 2640, 7695, 1230));
    Check5 = MakeCheckBox(this, "Check5", "Unregister store-wide", TwipsRect(120, 3920, 1815, 375));
    SysMbxUninstList = MakeList(this, "SysMbxUninstList", TwipsRect(1920, 3960, 7695, 645));
    Check6 =
        MakeCheckBox(this, "Check6", "Uninstall COM+ object ", TwipsRect(120, 4800, 2055, 375));
    txtErr = Place(new QPlainTextEdit(this), "txtErr", TwipsRect(1920, 5280, 7695, 1095));
    txtErr->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtErr->setReadOnly(true);
    Picture1 = Place(new PictureBox(this), "Picture1", TwipsRect(240, 5640, 9135, 375));
    Command3 = MakeButton(this, "Command3", "Clear Error Log", TwipsRect(240, 5640, 1575, 375));
    Command1 = MakeButton(this, "Command1", "CHANGE", TwipsRect(3120, 6480, 1575, 375));
    Command2 = MakeButton(this, "Command2", "Exit", TwipsRect(5040, 6480, 1575, 375));

    // Labels are drawn on the window's surface, beneath every other control that overlaps them.
    for (auto* label : {Label1, Label2, Label3, Label7}) {
        label->setFocusPolicy(Qt::NoFocus);
        label->lower();
    }
    Picture1->setFocusPolicy(Qt::NoFocus);

    // Tab order of the focusable controls.
    const QWidget* order[] = {Check1,         Check6,          Command1, Command2, MbxInstList,
                              MbxUninstList,  Command3,        Check2,   Check3,   Check5,
                              Check4,         txtIdent,        txtPwd,   txtErr,   Check7,
                              SysMbxInstList, SysMbxUninstList};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));

    // Start states.
    for (auto* box : {Check1, Check2, Check5, Check6})
        box->setEnabled(false);
    txtErr->setVisible(false);
    Command3->setVisible(false);
}

} // namespace lorvanta::setup
