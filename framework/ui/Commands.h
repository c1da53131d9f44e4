// Command numbers, menu texts, prompts and tooltips of the main window.
#pragma once

#include <QString>
#include <vector>

namespace quorrel {

enum CommandId : int {
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FILE1 = 57616,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_FIND = 57636,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_REPEAT = 57640,
    ID_EDIT_REPLACE = 57641,
    ID_EDIT_SELECT_ALL = 57642,
    ID_EDIT_UNDO = 57643,
    ID_WINDOW_SPLIT = 57653,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_HELP_TOPICS = 32775,
    ID_OPEN_URL = 32776,
    ID_GET_XML_DATA = 32777,
    ID_SWITCH_TO_SOURCE = 32782,
    ID_SWITCH_TO_TREE = 32783,
    ID_ADD_ATTRIBUTE = 32788,
    ID_ADD_CHILD_ELEMENT = 32789,
    ID_CHANGE_ATTRIBUTE_NAME = 32790,
    ID_CHANGE_ATTRIBUTE_VALUE = 32791,
    ID_CHANGE_TEXT_VALUE = 32792,
    ID_RENAME_ELEMENT = 32793,
    ID_DELETE_ELEMENT_AND_CHILDREN = 32794,
    ID_DELETE_ELEMENT_ONLY = 32795,
    ID_ATTRIBUTE_TO_ELEMENT = 32796,
    ID_ELEMENT_TO_ATTRIBUTE = 32797,
    ID_DUPLICATE_ELEMENT_SUBTREE = 32798,
    ID_DELETE_ATTRIBUTE = 32806,
    ID_DELETE_TEXT_NODE = 32807,
    ID_ADD_TEXT_NODE = 32808,
    ID_VALIDATE_YES = 32815,
    ID_VALIDATE_NO = 32816,
    ID_PARSE = 32817,
    ID_FORMAT_DOCUMENT = 32820,
    ID_FIND_XPATH = 32821,
};

struct CommandText {
    int id;
    const char* menuText;  // "&" marks the mnemonic, "\t" the shortcut text
    const char* prompt;    // status-bar prompt; after "\n" the tooltip
};

// Every command the window offers, with its menu text and prompt.
const std::vector<CommandText>& AllCommands();
const CommandText* FindCommand(int id);

// The prompt before "\n" and the tooltip after it.
QString PromptOf(const CommandText& command);
QString TooltipOf(const CommandText& command);

}  // namespace quorrel
