#pragma once
// The .ico reader of the image library: a directory of entries, each a bitmap (32 bits with its
// own alpha, or fewer bits with an AND mask) or a PNG picture. Internal to ui/.

#include "ui/images_decoder.h"

namespace lunadio::ui {

// True when the bytes start with a plausible icon directory (type 1, at least one entry, every
// entry inside the bytes).
bool looksLikeIcon(ByteSpan bytes);

// Decodes the best entry: the largest picture, the deepest of equal sizes; when it cannot be
// decoded, the next best. Always 32 bits with alpha, format ImageFormatIcon; a null picture when
// the bytes are not an icon file or no entry decodes.
DecodedPicture readIcon(ByteSpan bytes);

}  // namespace lunadio::ui
