#include "framework/ui/Commands.h"

namespace quorrel {

const std::vector<CommandText>& AllCommands() {
    static const std::vector<CommandText> commands = {
        {ID_FILE_NEW, "&New\tCtrl+N", "Create a new document\nNew"},
        {ID_FILE_OPEN, "&Open...\tCtrl+O", "Open an existing XML document\nOpen"},
        {ID_OPEN_URL, "&Open (URL)... \tCtrl+U", "Open an XML document from URL"},
        {ID_FILE_SAVE, "&Save\tCtrl+S", "Save the active document\nSave"},
        {ID_FILE_SAVE_AS, "Save &As...", "Save the active document with a new name\nSave As"},
        {ID_FILE_PRINT, "&Print...\tCtrl+P", "Print the active document\nPrint"},
        {ID_FILE_PRINT_PREVIEW, "Print Pre&view", "Display full pages\nPrint Preview"},
        {ID_FILE_PRINT_SETUP, "P&rint Setup...",
         "Change the printer and printing options\nPrint Setup"},
        {ID_FILE_MRU_FILE1, "Recent File", "Open this document"},
        {ID_APP_EXIT, "E&xit", "Quit the application; prompts to save documents\nExit"},
        {ID_EDIT_UNDO, "&Undo\tCtrl+Z", "Undo the last action\nUndo"},
        {ID_EDIT_CUT, "Cu&t\tCtrl+X", "Cut the selection and put it on the Clipboard\nCut"},
        {ID_EDIT_COPY, "&Copy\tCtrl+C", "Copy the selection and put it on the Clipboard\nCopy"},
        {ID_EDIT_PASTE, "&Paste\tCtrl+V", "Insert Clipboard contents\nPaste"},
        {ID_EDIT_SELECT_ALL, "Select A&ll", "Select the entire document\nSelect All"},
        {ID_EDIT_FIND, "&Find...\tCtrl+F", "Find the specified text\nFind"},
        {ID_EDIT_REPEAT, "Find &Next\tF3", "Repeat the last find\nRepeat"},
        {ID_EDIT_REPLACE, "R&eplace...\tCtrl+H",
         "Replace specific text with different text\nReplace"},
        {ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar"},
        {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar"},
        {ID_SWITCH_TO_SOURCE, "&Rich Edit View", "Switches to rich edit view (left pane)"},
        {ID_SWITCH_TO_TREE, "&Xml Tree", "Switches to Xml Tree View (right pane)"},
        {ID_WINDOW_SPLIT, "S&plit", "Split the active window into panes\nSplit"},
        {ID_VALIDATE_YES, "&Yes", "Turns validation on against DTD/Schema when parsing"},
        {ID_VALIDATE_NO, "&No", "Turns validation off against DTD/Schema when parsing"},
        {ID_PARSE, "&Parse", "Parses active document and builds the tree on the right."},
        {ID_FORMAT_DOCUMENT, "&Format Document...",
         "Indents the whole document anew; mixed content stays as it is\nFormat Document"},
        {ID_FIND_XPATH, "Find by &XPath...\tCtrl+Shift+X",
         "Finds the nodes an XPath expression selects and shows them in both panes\nFind by "
         "XPath"},
        {ID_GET_XML_DATA, "&Get Xml Data", "Xml formatted data from ODBC database"},
        {ID_ADD_ATTRIBUTE, "Add Attribute", "Adds an attribute/value pair to an element"},
        {ID_ADD_CHILD_ELEMENT, "Add Child Element",
         "Adds a child element and it's text to an element"},
        {ID_ADD_TEXT_NODE, "Add Text Node", "Adds a text node to the selected element node"},
        {ID_RENAME_ELEMENT, "Rename Element", "Rename element node to a new a new name"},
        {ID_DELETE_ELEMENT_AND_CHILDREN, "Delete Element And Children",
         "Deletes all elements and subtree (children) from tree"},
        {ID_DELETE_ELEMENT_ONLY, "Delete Element  Only", "Delete element only and leave children"},
        {ID_ELEMENT_TO_ATTRIBUTE, "Element To Attribute",
         "Transform an element to become an attribute"},
        {ID_DUPLICATE_ELEMENT_SUBTREE, "Duplicate Element SubTree",
         "Duplicate element and children (subtree) "},
        {ID_CHANGE_ATTRIBUTE_NAME, "Change Attribute Name",
         "Replace attribute name with a new name"},
        {ID_CHANGE_ATTRIBUTE_VALUE, "Change Attribute Value",
         "Change value of attribute to a new value"},
        {ID_ATTRIBUTE_TO_ELEMENT, "Attribute To Element",
         "Transform an attribute to become an element"},
        {ID_DELETE_ATTRIBUTE, "Delete Attribute", "Remove an attribute from it's parent element"},
        {ID_DELETE_TEXT_NODE, "Delete Text Node", "Remove text node from it's parent element"},
        {ID_CHANGE_TEXT_VALUE, "Change Text Value", "Replace text value with a new value"},
        {ID_HELP_TOPICS, "&Help Topics", "Displays help contents and index"},
        {ID_APP_ABOUT, "&About Quorrel...",
         "Display program information, version number and copyright\nAbout"},
        {ID_NEXT_PANE, "", "Switch to the next window pane\nNext Pane"},
        {ID_PREV_PANE, "", "Switch back to the previous window pane\nPrevious Pane"},
    };
    return commands;
}

const CommandText* FindCommand(int id) {
    for (const CommandText& c : AllCommands()) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

QString PromptOf(const CommandText& command) {
    return QString::fromUtf8(command.prompt).section(QLatin1Char('\n'), 0, 0);
}

QString TooltipOf(const CommandText& command) {
    QString prompt = QString::fromUtf8(command.prompt);
    return prompt.contains(QLatin1Char('\n')) ? prompt.section(QLatin1Char('\n'), 1) : QString();
}

}  // namespace quorrel
