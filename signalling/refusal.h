// Why a link layer did not take the last message its owner gave it. A
// layer's message() answers nothing, so the owner reads this after the call.
#pragma once

enum class Refusal {
    none,           // taken, or nothing to send
    full,           // its queue is full, or the packet pool low: later, perhaps
    out_of_service, // the link carries no messages now
    unrouted,       // no data link this message could go on
    invalid,        // no frame of the link could carry it: empty, or too long
    gone,           // its channel or device is closed or gone: nothing until opened again
};
