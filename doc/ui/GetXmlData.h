// Data Source > Get Xml Data: a "rowset" document from an ODBC query
// replaces the document.
#pragma once

namespace quorrel {

class CDoc;
class CDocWindow;
class DocCommands;
class UserInterface;

// Asks for the data source and the column mapping, generates, and puts the
// result in place. Any cancel or failure leaves the document as it was.
void OnGetXmlData(CDoc& doc, UserInterface& ui, CDocWindow& frame, DocCommands& commands);

}  // namespace quorrel
