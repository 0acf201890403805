#pragma once

#include "CTerminalScreen.h"

#include <string>

// A screen's state written in the line's own command language, so that a fresh
// CTerminalScreen that receives and drains these bytes holds exactly the same state: rows,
// status and label texts, width mode, cursor and the bytes still waiting for interpretation.
// A journal file starts with them, so it rebuilds its screen without any earlier file.
//
// The bytes, in order:
//   ESC +                      clear the screen
//   ESC ` ;                    132 columns, so every column of a row can be written
//   ESC a r R c C  text ...    per run of non-blank text: 1-based decimal address, the bytes
//   ESC F text CR              status; an empty status as ESC F SP CR (which empties it)
//   ESC f text CR              label, likewise
//   ESC ` :                    only when the screen is in 80-column mode
//   ESC a r R c C              the cursor
//   pending bytes              PendingBytes(): an incomplete sequence and undrained bytes
// Every command before the pending bytes is complete, so the receiving screen stops exactly
// where the source did, and feeding both the same further bytes keeps them equal.
//
// A row cannot hold ESC through the line (the interpreter never stores it), so every byte of a
// row but ESC is written as itself; a run is cut at an ESC, which is left as the cleared space.
// Messages never hold CR or NUL and never start or end with white space, so they too are
// written as they are. The cursor is where the wrap check leaves it (column below the width).
class CScreenCommands {
public:
    static std::string Of(const CTerminalScreen& screen);

    // Bytes after which a screen waits in no sequence, whatever it was in the middle of: a CR
    // ends a message, and no other sequence waits for more than the ten bytes that follow it.
    // They change only what Of() writes again (rows, cursor, width, messages), so
    // EndPending() + Of(other) makes any screen equal to `other`.
    static std::string EndPending();
};
