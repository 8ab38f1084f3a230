#pragma once
// The checks the node dialogs share: the server, the port, the texts and the
// additional route as typed, each refused with a message naming the field.
// Nothing here touches the node list or the route list.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/base/message_id.h"

class CNodeInfo;

// A host name: labels of letters, digits, '-' and '_', each 1 to 63 bytes,
// 253 bytes in all (one trailing dot allowed). The service is IPv4-only, so
// server text is either this or a strict dotted IPv4 address.
bool IsHostNameText(std::string_view text);
DialogMessage CheckServerText(const std::string& server);

// The port field: digits only ("Enter an integer."), at most 65535 ("Enter
// an integer between 0 and 65535."); 0 passes here and is refused later by
// CheckPortNotZero ("Port must be in 0-65535."), after the server's check.
DialogMessage ParsePortText(const std::wstring& text, uint16_t* port);
DialogMessage CheckPortNotZero(uint16_t port);

// One text of the form with the label that names it in messages.
struct NamedText {
    const char* label;  // message id of the field's label
    const std::wstring* text;
};
// A control character (CR and LF included) in any of the texts.
DialogMessage CheckNoControlCharacters(const std::vector<NamedText>& fields);
bool HasControlCharacter(std::wstring_view text);

// Turns a name into its address; empty when it does not resolve.
using RouteResolver = std::function<std::string(std::string_view)>;
// The route as typed (trimmed) to the address to register, or a message:
// address text that is not strict IPv4, a name that does not resolve, or a
// loopback address (the route list would drop it). Empty text gives an
// empty address and no message.
DialogMessage ResolveRouteText(const std::wstring& route, const RouteResolver& resolve, std::string* address);

// The groups of the node list, each once ("Default Group" for an empty one),
// ordered by their UTF-8 bytes.
std::vector<std::wstring> NodeGroupChoices(const std::vector<CNodeInfo*>& nodes);
// The group as saved: trimmed, "Default Group" when empty.
std::string GroupToSave(std::wstring group);

// Registers `address` as a direct additional route and saves the route
// file, unless it is empty or already listed.
void RegisterDirectRoute(const std::string& address);

// The common end of both node dialogs' OK: the message when something was
// refused (the dialog stays open), else the id of the node saved.
struct NodeSaveResult {
    DialogMessage message;
    int nodeId = -1;
    bool Saved() const { return !message; }
};

// AddNode (or EditNode) of the checked record, then its additional route;
// a node the list refuses gives a message and registers nothing.
struct NodeParams;
NodeSaveResult SaveNodeParams(const NodeParams& params, bool edit);

// Spaces, tabs and line breaks trimmed from both ends.
std::wstring TrimmedText(std::wstring text);
