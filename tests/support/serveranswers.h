#pragma once

// The server client's answers to this process, cut on purpose: linked into
// every test (the calls of the client library are routed through here), and
// doing nothing until a test asks for a cut.
namespace serveranswers {

enum class Cut {
    None,
    // The next write that commits gets its answer, then the connection is lost.
    AfterCommit,
    // The next write that commits is saved on the server, and the
    // connection is lost before its answer comes.
    AnswerOfCommit,
};

void cutNext(Cut cut);

} // namespace serveranswers
