// Oriented surface samples from a coordinate field.
#include "ImageDatabase.h"

int64_t AppendSurfels(const ZoCFieldCoord& field, const CbVector3f& viewpoint, int step,
                      ZoCSurfelCollection& out) {
    if (step < 1)
        step = 1;
    const ZoCRect2 rect = field.RectValid();
    int64_t appended = 0;
    for (int y = rect.top; y + step < rect.bottom; y += step)
        for (int x = rect.left; x + step < rect.right; x += step) {
            if (!field.IsValid(x, y) || !field.IsValid(x + step, y) || !field.IsValid(x, y + step))
                continue;
            const CbVector3f& p = field.At(x, y);
            const CbVector3f right = field.At(x + step, y) - p;
            const CbVector3f down = field.At(x, y + step) - p;
            CbVector3f normal = right.Cross(down).Normalized();
            // Neighbours that coincide or line up give no plane; such a sample has no normal.
            if (normal.Dot(normal) < 0.5f)
                continue;
            if (normal.Dot(viewpoint - p) < 0)
                normal = -normal;
            out.push_back({p, normal, 0.25f * (right.Length() + down.Length())});
            ++appended;
        }
    return appended;
}
