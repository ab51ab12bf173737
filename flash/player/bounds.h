#pragma once
// Bounding boxes of objects on stage, in twips, from the characters' stated bounds.
#include "flash/player/node.h"
#include "flash/reader/records.h"

namespace flash::player {

// In the object's own space (before its matrix); an empty clip gives an empty rectangle.
swf::Rect boundsOf(const Node& node);
// In its parent's space.
swf::Rect boundsInParent(const Node& node);
// A rectangle through a matrix: the box around its four corners.
swf::Rect transformRect(const swf::Rect& r, const swf::Matrix& m);

}  // namespace flash::player
