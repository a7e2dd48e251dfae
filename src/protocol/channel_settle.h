#pragma once

namespace kova {

class Link;

// A freshly created socket is reported only after a settle time of 2 s; the
// gauge moves meanwhile so that the operator sees the tool is not stuck.
void Settle_Start(Link& link);
// No settle time: the remote update opens a socket for every file block.
void Settle_Skip(Link& link);
// One step of the settle time; true once it has run out.
bool Settle_Step(Link& link);

}  // namespace kova
