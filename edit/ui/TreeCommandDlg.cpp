#include "edit/ui/TreeCommandDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

namespace quorrel {

namespace {

constexpr const char* kAllElementsTypo = "For all occurences of this element in tree :";
constexpr const char* kAllElements = "For all occurrences of this element in tree :";
constexpr const char* kAllAttributes = "For all occurrences of this attribute in tree :";

const std::array<TreeCommandDialogText, 14> kDialogs{{
    {TreeCommand::AddAttribute, 150, "Add Attribute", "Adds an Attribute to the selected Element",
     "Attribute Name :", 35, "Attribute Value:", 35, kAllElementsTypo},
    {TreeCommand::AddChildElement, 151, "Add Child Element",
     "Adds Child Element to selected element", "Tag Name :", 35, "Text Value :", 35, kAllElements},
    {TreeCommand::AddTextNode, 163, "Add Text Node",
     "Adds a text node to the - selected - element node", nullptr, 0, "Text Node Value :", 250,
     kAllElementsTypo},
    {TreeCommand::RenameElement, 155, "Change Element Name (Rename Element)",
     "Rename the selected Element to new name", "New Element Name :", 35, nullptr, 0, kAllElements},
    {TreeCommand::DeleteElementAndChildren, 156, "Delete Element & All Children",
     "Delete all occurrences of selected Element and children (subtree) from tree.", nullptr, 0,
     nullptr, 0, nullptr},
    {TreeCommand::DeleteElementOnly, 157, "Delete Element And Leave Children",
     "Delete selected Element and leave it's children", nullptr, 0, nullptr, 0, kAllElements},
    {TreeCommand::ElementToAttribute, 159, "Transform Element To Attribute",
     "Transform selected element to an attribute of it's parent element. The element name becomes "
     "the attribute "
     "name and the element's text value becomes the attribute value.",
     nullptr, 0, nullptr, 0, kAllElements},
    {TreeCommand::DuplicateElementSubTree, 160, "Duplicate Sub Tree",
     "Duplicate selected element and sub tree (children) following the element.", nullptr, 0,
     nullptr, 0, nullptr},
    {TreeCommand::ChangeAttributeName, 152, "Change Attribute Name",
     "Change name of selected Attribute\n     ( Does not change it's value )", "New Name :", 35,
     nullptr, 0, kAllAttributes},
    {TreeCommand::ChangeAttributeValue, 153, "Change Attribute Value",
     "Change value of selected Attribute \n   ( Does not change the name )", nullptr, 0,
     "New Value :", 35, kAllAttributes},
    {TreeCommand::DeleteAttribute, 161, "Remove Attribute From Element",
     "Deletes the - selected - attribute from it's parent element.", nullptr, 0, nullptr, 0,
     kAllAttributes},
    {TreeCommand::AttributeToElement, 158, "Transform Attribute To Element",
     "Transform the selected attribute to become an element. The attribute name becomes an element "
     "name. And the "
     "attribute value a child text value.",
     nullptr, 0, nullptr, 0, kAllAttributes},
    {TreeCommand::ChangeTextValue, 154, "Change Text Value", "Change the value of this Text node",
     nullptr, 0, "New Text Value :", 35, "For all occurrences of the parent element in tree :"},
    {TreeCommand::DeleteTextNode, 162, "Remove Text Node From Element",
     "Deletes the - selected - text node from it's parent element", nullptr, 0, nullptr, 0,
     "For all occurences of this text node in tree :"},
}};

// Named after the dialogs they are; the table holds what differs.
#define QUORREL_TREE_DIALOG(Name)                                                                  \
    class Name : public CTreeCommandDlg {                                                          \
    public:                                                                                        \
        Name(const TreeCommandDialogText& text, QWidget* parent) : CTreeCommandDlg(text, parent) { \
            setObjectName(QStringLiteral(#Name));                                                  \
        }                                                                                          \
    };
QUORREL_TREE_DIALOG(CAddAttributeDlg)
QUORREL_TREE_DIALOG(CAddChildElementDlg)
QUORREL_TREE_DIALOG(CAddTextNodeDlg)
QUORREL_TREE_DIALOG(CRenameElementDlg)
QUORREL_TREE_DIALOG(CDeleteSubtreeDlg)
QUORREL_TREE_DIALOG(CDeleteElementOnlyDlg)
QUORREL_TREE_DIALOG(CElementToAttrDlg)
QUORREL_TREE_DIALOG(CDuplicateSubtreeDlg)
QUORREL_TREE_DIALOG(CChangeAttrNameDlg)
QUORREL_TREE_DIALOG(CChangeAttrValueDlg)
QUORREL_TREE_DIALOG(CRemoveAttributeDlg)
QUORREL_TREE_DIALOG(CAttrToElementDlg)
QUORREL_TREE_DIALOG(CChangeTextValueDlg)
QUORREL_TREE_DIALOG(CRemoveTextNodeDlg)
#undef QUORREL_TREE_DIALOG

QLineEdit* AddField(QGridLayout* grid, QWidget* parent, const char* prompt, int limit,
                    const char* name) {
    int row = grid->rowCount();
    auto* label = new QLabel(QString::fromUtf8(prompt), parent);
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setMaxLength(limit);
    label->setBuddy(field);
    grid->addWidget(label, row, 0);
    grid->addWidget(field, row, 1);
    return field;
}

// How wide a window must be for a window manager to show its whole title: the
// title in a bold title-bar font, and room for the icon and three buttons.
int WidthForTitle(const QString& title) {
    QFont font = QApplication::font();
    font.setBold(true);
    QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + 8 * metrics.height();
}

}  // namespace

const TreeCommandDialogText& DialogTextOf(TreeCommand command) {
    for (const auto& text : kDialogs) {
        if (text.command == command) {
            return text;
        }
    }
    return kDialogs[0];
}

CTreeCommandDlg::CTreeCommandDlg(const TreeCommandDialogText& text, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(text.title));
    setModal(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);
    auto* layout = new QVBoxLayout(this);
    auto* description = new QLabel(QString::fromUtf8(text.description), this);
    description->setObjectName(QStringLiteral("description"));
    description->setWordWrap(true);
    layout->addWidget(description);
    auto* grid = new QGridLayout;
    if (text.namePrompt != nullptr) {
        m_name = AddField(grid, this, text.namePrompt, text.nameLimit, "field1007");
    }
    if (text.valuePrompt != nullptr) {
        m_value = AddField(grid, this, text.valuePrompt, text.valueLimit, "field1011");
    }
    if (text.checkLabel != nullptr) {
        int row = grid->rowCount();
        auto* label = new QLabel(QString::fromUtf8(text.checkLabel), this);
        label->setObjectName(QStringLiteral("checkLabel1009"));
        m_all = new QCheckBox(this);  // the box shows no caption: the label beside it is the text
        m_all->setObjectName(QStringLiteral("check1009"));
        label->setBuddy(m_all);
        grid->addWidget(label, row, 0);
        grid->addWidget(m_all, row, 1);
    }
    layout->addLayout(grid);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(WidthForTitle(windowTitle()));
}

CommandInputs CTreeCommandDlg::Inputs() const {
    CommandInputs inputs;
    inputs.name = m_name ? m_name->text().toStdString() : std::string();
    inputs.value = m_value ? m_value->text().toStdString() : std::string();
    inputs.allOccurrences = m_all && m_all->isChecked();
    return inputs;
}

std::unique_ptr<CTreeCommandDlg> CreateTreeCommandDialog(TreeCommand command, QWidget* parent) {
    const TreeCommandDialogText& text = DialogTextOf(command);
    switch (command) {
        case TreeCommand::AddAttribute:
            return std::make_unique<CAddAttributeDlg>(text, parent);
        case TreeCommand::AddChildElement:
            return std::make_unique<CAddChildElementDlg>(text, parent);
        case TreeCommand::AddTextNode:
            return std::make_unique<CAddTextNodeDlg>(text, parent);
        case TreeCommand::RenameElement:
            return std::make_unique<CRenameElementDlg>(text, parent);
        case TreeCommand::DeleteElementAndChildren:
            return std::make_unique<CDeleteSubtreeDlg>(text, parent);
        case TreeCommand::DeleteElementOnly:
            return std::make_unique<CDeleteElementOnlyDlg>(text, parent);
        case TreeCommand::ElementToAttribute:
            return std::make_unique<CElementToAttrDlg>(text, parent);
        case TreeCommand::DuplicateElementSubTree:
            return std::make_unique<CDuplicateSubtreeDlg>(text, parent);
        case TreeCommand::ChangeAttributeName:
            return std::make_unique<CChangeAttrNameDlg>(text, parent);
        case TreeCommand::ChangeAttributeValue:
            return std::make_unique<CChangeAttrValueDlg>(text, parent);
        case TreeCommand::DeleteAttribute:
            return std::make_unique<CRemoveAttributeDlg>(text, parent);
        case TreeCommand::AttributeToElement:
            return std::make_unique<CAttrToElementDlg>(text, parent);
        case TreeCommand::ChangeTextValue:
            return std::make_unique<CChangeTextValueDlg>(text, parent);
        case TreeCommand::DeleteTextNode:
            return std::make_unique<CRemoveTextNodeDlg>(text, parent);
    }
    return std::make_unique<CTreeCommandDlg>(text, parent);
}

}  // namespace quorrel
