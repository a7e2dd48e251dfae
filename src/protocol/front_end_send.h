#pragma once

#include <string>

namespace kova {

class Link;

// UDPSocket_SendString for a caller on the front end's thread (the test-text
// button): UDPPacket and MsgText belong to the worker, so the datagram is
// built in a buffer of its own and the traces leave MsgText alone.
int UDPSocket_SendStringFromFrontEnd(Link& link, const std::string& text);

}  // namespace kova
