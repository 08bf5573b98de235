// The traffic view redtComRechex: each complete frame is appended as hex text at the insertion
// point LastLine/LastCol, which is taken from the view after every frame. Since only ShowRxHex
// and the clear command change the read-only view, that point is always the end of its text,
// wherever the user has clicked or selected meanwhile.
#pragma once

#include <cstdint>
#include <string>

namespace mbus::console {

// The display line of redtComRechex on which the next frame begins, and the character offset
// within it.
extern std::int32_t LastLine;
extern std::int32_t LastCol;

// Appends one frame's hex text (every byte, as two upper-case digits, pairs separated by one
// blank) at the insertion point (with CR LF when ckbLR is checked), scrolls to the bottom and
// takes the new insertion point. With 时间戳 ticked the frame is a line of its own instead,
// "[hh:mm:ss.zzz] RX <hex>".
void ShowRxHex(const std::string& Data);

// With 时间戳 ticked, appends the line "[hh:mm:ss.zzz] TX <hex>" of bytes sent; else nothing.
void ShowTxHex(const std::string& Data);

// Takes LastLine and LastCol from the caret of redtComRechex.
void TakeInsertionPoint();

// The view has wrapped its lines anew, so the old line number no longer names the insertion
// point: it is taken again at the end of the text, where it stood.
void KeepInsertionPointAtEnd();

} // namespace mbus::console
