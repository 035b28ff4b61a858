#pragma once

namespace dovrel::controller {

// How an unpair ended, as far as the machine's own agent goes (this computer forgets it in every case).
enum class UnpairOutcome {
    told,             // its agent was told to forget this computer
    alreadyForgotten, // its agent no longer knew this computer: there was nothing left to tell it
    refused,          // its address refused the connection: DOVRELÆ is not running there
    interrupted,      // another connect (or unpair) came first
    unanswered,       // nothing answered in time, or another machine answered
};

} // namespace dovrel::controller
