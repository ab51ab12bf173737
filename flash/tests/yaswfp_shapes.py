#!/usr/bin/python3
# Lists the edges of every DefineShape, DefineShape2 and DefineShape3 of a SWF file as read by
# yaswfp (Debian's python3-yaswfp), an SWF parser independent of the engine:
#   shape ID
#   edge X0 Y0 X1 Y1            straight edge, absolute twips
#   curve X0 Y0 CX CY X1 Y1     quadratic edge
# Shapes yaswfp cannot read are left out.
import sys
from yaswfp import swfparser

parser = swfparser.SWFParser(open(sys.argv[1], 'rb'))
for tag in parser.tags:
    if tag.name not in ('DefineShape', 'DefineShape2', 'DefineShape3') or not hasattr(tag, 'Shapes'):
        continue
    print('shape', tag.ShapeId)
    x = y = 0
    for r in tag.Shapes.ShapeRecords:
        kind = r.__class__.__name__
        if kind == 'StyleChangeRecord':
            if getattr(r, 'StateMoveTo', 0):
                x, y = r.MoveDeltaX, r.MoveDeltaY
        elif kind == 'StraightEdgeRecord':
            general = getattr(r, 'GeneralLineFlag', 0)
            vertical = getattr(r, 'VertLineFlag', 0)
            dx = r.DeltaX if general or not vertical else 0
            dy = r.DeltaY if general or vertical else 0
            print('edge', x, y, x + dx, y + dy)
            x, y = x + dx, y + dy
        elif kind == 'CurvedEdgeRecord':
            cx, cy = x + r.ControlDeltaX, y + r.ControlDeltaY
            ax, ay = cx + r.AnchorDeltaX, cy + r.AnchorDeltaY
            print('curve', x, y, cx, cy, ax, ay)
            x, y = ax, ay
