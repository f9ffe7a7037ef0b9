// The warp mesh object: creation and the item list, the grid build, the item region tests and
// the source rectangle.
#include "facesdk/engine/warp_mesh.h"

#include <algorithm>
#include <cstring>

#include "facesdk/base/result_codes.h"
#include "facesdk/engine/face_narrowing.h"
#include "facesdk/engine/warp_apply.h"

const WarpMeshOps kWarpMeshOps = {
    warpMeshDestroy,    warpMeshAddItem,   warpMeshUpdateItem, warpMeshRemoveItem,
    warpMeshClearItems, warpMeshSourceRect, warpMeshApply,
};

namespace {

// Margins of the source rectangle around estimated positions, pixels.
constexpr int32_t kBilinearMargin = 2;
constexpr int32_t kCubicMargin = 12;

// Cell size in 1/256 pixel of `pixels` spanned by `lines` - 3 cells (unsigned division).
uint32_t cellSize(int32_t pixels, int32_t lines)
{
    return uint32_t(pixels - 1) * 256u / uint32_t(lines - 3);
}

void fillNode(WarpItemNode *node, const WarpItem &item)
{
    node->type = item.type;
    node->centreX = item.centreX;
    node->centreY = item.centreY;
    node->radius = item.radius;
    node->directionX = item.directionX;
    node->directionY = item.directionY;
    node->valueA = item.valueA;
    node->valueB = item.valueB;
    node->radiusSquared = item.radius * item.radius;
    const int32_t extent = item.radius * 256;
    node->left = node->right = node->top = node->bottom = extent;
    node->leftTop = node->rightTop = node->rightBottom = node->leftBottom = node->radiusSquared;
}

// The item an id selects: -1 the first, -2 the last, else the first with that id, or the last
// item when none has it. Null for an empty list.
WarpItemNode *selectItem(const WarpMesh *mesh, int32_t id)
{
    WarpItemNode *node = mesh->items;
    if (!node || id == kWarpFirstItem)
        return node;
    while (node->next && (id == kWarpLastItem || node->id != id))
        node = node->next;
    return node;
}

void fillCubicTables(WarpMesh *mesh)
{
    for (int32_t a = 0; a < 256; ++a) {
        const int32_t c = (a * a) >> 8;
        const int32_t d = (a * c) >> 8;
        mesh->cubicT0[a] = -(((2 * c - d - a) * 128) >> 8);
        mesh->cubicT1[a] = ((c - d) * 128) >> 8;
        mesh->cubicT2[a] = 3 * c - 2 * d;
    }
}

// ---- Grid build -----------------------------------------------------------------------------

void extrapolateOuterRing(int32_t *plane, int32_t columns, int32_t rows)
{
    auto at = [&](int32_t row, int32_t column) -> int32_t & {
        return plane[int64_t(row) * columns + column];
    };
    for (int32_t j = 1; j <= columns - 2; ++j) {
        at(0, j) = 2 * at(1, j) - at(2, j);
        at(rows - 1, j) = 2 * at(rows - 2, j) - at(rows - 3, j);
    }
    for (int32_t i = 0; i < rows; ++i) {
        at(i, 0) = 2 * at(i, 1) - at(i, 2);
        at(i, columns - 1) = 2 * at(i, columns - 2) - at(i, columns - 3);
    }
}

// Type-1 items reach one cell further towards their direction.
void updateDirectionalRegions(WarpMesh *mesh, int32_t cellW, int32_t cellH)
{
    for (WarpItemNode *node = mesh->items; node; node = node->next) {
        if (node->type != kWarpItemDirectional)
            continue;
        const int32_t reach = node->radius * 256;
        const int32_t dx = node->directionX * 256, dy = node->directionY * 256;
        if (dy < -reach / 2)
            node->top = reach + cellH;
        else if (dy > reach / 2)
            node->bottom = reach + cellH;
        if (dx < -reach / 2)
            node->left = reach + cellW;
        else if (dx > reach / 2)
            node->right = reach + cellW;
        node->leftTop = (int64_t(node->left) * node->top) >> 8;
        node->rightTop = (int64_t(node->right) * node->top) >> 8;
        node->rightBottom = (int64_t(node->bottom) * node->right) >> 8;
        node->leftBottom = (int64_t(node->bottom) * node->left) >> 8;
    }
}

// ---- Item regions ---------------------------------------------------------------------------

// Whether a segment along one axis meets an item's region. `across` is the segment's offset
// from the centre on the other axis, `from`/`to` its ends on its own axis, all 1/256 pixel;
// `before`/`after` the extents along the segment, `low`/`high` those across it; the limits are
// those of the quadrants before and after the centre on the low and high side.
bool segmentHits(int64_t across, int64_t from, int64_t to, int64_t centre, int64_t before,
                 int64_t after, int64_t low, int64_t high, int64_t limitBeforeLow,
                 int64_t limitBeforeHigh, int64_t limitAfterLow, int64_t limitAfterHigh)
{
    if (!(-low < across && across < high && from < centre + after && centre - before < to))
        return false;
    int64_t distance;
    int64_t limit;
    if (to < centre) {
        distance = centre - to;
        limit = across < 0 ? limitBeforeLow : limitBeforeHigh;
    } else if (from <= centre) {
        return true;  // the segment crosses the centre line
    } else {
        distance = from - centre;
        limit = across < 0 ? limitAfterLow : limitAfterHigh;
    }
    return ((across * across) >> 8) + ((distance * distance) >> 8) < limit;
}

// Mesh units (1/256 pixel) per image pixel of the built size.
int64_t meshScaleX(const WarpMesh *mesh)
{
    return uint32_t(mesh->meshWidth) * 256u / uint32_t(mesh->builtWidth);
}

int64_t meshScaleY(const WarpMesh *mesh)
{
    return uint32_t(mesh->meshHeight) * 256u / uint32_t(mesh->builtHeight);
}

// 1 when the segment from .. to (image pixels) at `at` meets some item's region: along a row
// (x from .. to at row `at`) or along a column (y from .. to at column `at`).
int segmentHitsAnyItem(const WarpMesh *mesh, bool alongRow, int32_t at, int32_t from, int32_t to)
{
    const int64_t sx = meshScaleX(mesh), sy = meshScaleY(mesh);
    const int64_t alongScale = alongRow ? sx : sy, acrossScale = alongRow ? sy : sx;
    const int64_t start = from * alongScale, end = to * alongScale, position = at * acrossScale;
    for (const WarpItemNode *n = mesh->items; n; n = n->next) {
        const int64_t centre = int64_t(alongRow ? n->centreX : n->centreY) * 256;
        const int64_t across = position - int64_t(alongRow ? n->centreY : n->centreX) * 256;
        bool hit;
        if (n->type != kWarpItemDirectional) {
            const int64_t r = int64_t(n->radius) * 256, limit = int64_t(n->radiusSquared) * 256;
            hit = segmentHits(across, start, end, centre, r, r, r, r, limit, limit, limit, limit);
        } else if (alongRow) {
            hit = segmentHits(across, start, end, centre, n->left, n->right, n->top, n->bottom,
                              n->leftTop, n->leftBottom, n->rightTop, n->rightBottom);
        } else {
            hit = segmentHits(across, start, end, centre, n->top, n->bottom, n->left, n->right,
                              n->leftTop, n->rightTop, n->leftBottom, n->rightBottom);
        }
        if (hit)
            return 1;
    }
    return 0;
}

// ---- Source positions -----------------------------------------------------------------------

struct CellPosition {
    int32_t gx, gy;  // cell whose top-left node is (gy + 1, gx + 1)
    int32_t fx, fy;  // fractions within the cell, 1/256
};

CellPosition cellOf(const WarpMesh *mesh, int32_t x, int32_t y)
{
    const int64_t px = int64_t(x) * mesh->inverseCellWidth;
    const int64_t py = int64_t(y) * mesh->inverseCellHeight;
    // Pixels of the last row or column may round into the cell past the grid's interior.
    return {int32_t(std::clamp<int64_t>(px >> 20, 0, mesh->columns - 3)),
            int32_t(std::clamp<int64_t>(py >> 20, 0, mesh->rows - 3)), int32_t((px >> 12) & 255),
            int32_t((py >> 12) & 255)};
}

int32_t bilinearOnPlane(const WarpMesh *mesh, const int32_t *plane, const CellPosition &cell)
{
    const int32_t *top = plane + int64_t(cell.gy + 1) * mesh->columns;
    const int32_t *bottom = top + mesh->columns;
    const int32_t left = top[cell.gx + 1] + (((bottom[cell.gx + 1] - top[cell.gx + 1]) * cell.fy) >> 8);
    const int32_t right = top[cell.gx + 2] + (((bottom[cell.gx + 2] - top[cell.gx + 2]) * cell.fy) >> 8);
    return left + (((right - left) * cell.fx) >> 8);
}

int32_t cubicOf(const WarpMesh *mesh, const int32_t p[4], int32_t i)
{
    return p[1] + int32_t((int64_t(p[2] - p[1]) * mesh->cubicT2[i] +
                           int64_t(p[2] - p[0]) * mesh->cubicT0[i] +
                           int64_t(p[1] - p[3]) * mesh->cubicT1[i]) >> 8);
}

int32_t cubicOnPlane(const WarpMesh *mesh, const int32_t *plane, const CellPosition &cell)
{
    int32_t across[4];
    for (int r = 0; r < 4; ++r) {
        const int32_t row = std::min(cell.gy + r, mesh->rows - 1);
        int32_t nodes[4];
        for (int c = 0; c < 4; ++c)
            nodes[c] = plane[int64_t(row) * mesh->columns + std::min(cell.gx + c, mesh->columns - 1)];
        across[r] = cubicOf(mesh, nodes, cell.fx);
    }
    return cubicOf(mesh, across, cell.fy);
}

// ---- Source rectangle -----------------------------------------------------------------------

struct Box {
    int32_t x, y, width, height;

    void extendLeftTo(int32_t px)
    {
        if (px < x) {
            width += x - px;
            x = px;
        }
    }
    void extendRightTo(int32_t px)
    {
        if (px >= x + width)
            width = px - x + 1;
    }
    void extendUpTo(int32_t py)
    {
        if (py < y) {
            height += y - py;
            y = py;
        }
    }
    void extendDownTo(int32_t py)
    {
        if (py >= y + height)
            height = py - y + 1;
    }
};

}  // namespace

// ---- Creation and the item list -------------------------------------------------------------

int warpMeshCreate(EngineAllocator *allocator, const WarpMeshConfig *config, WarpMesh **out)
{
    if (!allocator || !config || !out)
        return kResultBadArgument;
    *out = nullptr;
    const WarpMeshConfig &c = *config;
    // Fewer lines, or cells under 1/256 pixel, leave no cell to divide by.
    if (c.columns < kWarpGridMinimumLines || c.rows < kWarpGridMinimumLines || c.width < 2 ||
        c.height < 2 || cellSize(c.width, c.columns) == 0 || cellSize(c.height, c.rows) == 0)
        return kResultBadArgument;
    const uint64_t planeBytes = uint64_t(c.columns) * uint64_t(c.rows) * sizeof(int32_t);
    if (planeBytes > UINT32_MAX)
        return kResultBadArgument;

    auto *mesh = static_cast<WarpMesh *>(allocatorAlloc(allocator, sizeof(WarpMesh)));
    if (!mesh)
        return kResultNoMemory;
    std::memset(mesh, 0, sizeof *mesh);
    mesh->ops = &kWarpMeshOps;
    mesh->allocator = allocator;
    mesh->meshWidth = c.width;
    mesh->meshHeight = c.height;
    mesh->mode = c.mode;
    mesh->columns = c.columns;
    mesh->rows = c.rows;
    mesh->nextId = 1;
    mesh->planeX = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(planeBytes)));
    mesh->planeY = static_cast<int32_t *>(allocatorAlloc(allocator, uint32_t(planeBytes)));
    if (!mesh->planeX || !mesh->planeY) {
        allocatorFree(allocator, mesh->planeX);
        allocatorFree(allocator, mesh->planeY);
        allocatorFree(allocator, mesh);
        return kResultNoMemory;
    }
    std::memset(mesh->planeX, 0, planeBytes);
    std::memset(mesh->planeY, 0, planeBytes);
    if (c.mode != 0)
        fillCubicTables(mesh);
    *out = mesh;
    return kResultOk;
}

void warpMeshDestroy(WarpMesh *mesh)
{
    if (!mesh)
        return;
    EngineAllocator *allocator = mesh->allocator;
    warpMeshClearItems(mesh);
    allocatorFree(allocator, mesh->planeX);
    allocatorFree(allocator, mesh->planeY);
    imageRelease(allocator, &mesh->workingCopy);
    allocatorFree(allocator, mesh);
}

int warpMeshAddItem(WarpMesh *mesh, const WarpItem *item, int32_t *id)
{
    if (!mesh || !item)
        return kResultBadArgument;
    auto *node = static_cast<WarpItemNode *>(allocatorAlloc(mesh->allocator, sizeof(WarpItemNode)));
    if (!node)
        return kResultNoMemory;
    std::memset(node, 0, sizeof *node);
    fillNode(node, *item);
    node->id = mesh->nextId++;
    if (id)
        *id = node->id;
    if (!mesh->items) {
        mesh->items = node;
    } else {
        WarpItemNode *last = mesh->items;
        while (last->next)
            last = last->next;
        last->next = node;
        node->previous = last;
    }
    mesh->gridValid = 0;
    return kResultOk;
}

int warpMeshUpdateItem(WarpMesh *mesh, int32_t id, const WarpItem *item)
{
    if (!mesh || !item)
        return kResultBadArgument;
    WarpItemNode *node = selectItem(mesh, id);
    if (!node)
        return kResultNothingToDo;
    fillNode(node, *item);
    mesh->gridValid = 0;
    return kResultOk;
}

int warpMeshRemoveItem(WarpMesh *mesh, int32_t id, WarpItem *copy)
{
    WarpItemNode *node = mesh ? selectItem(mesh, id) : nullptr;
    if (!node)
        return kResultNothingToDo;
    if (copy) {
        const int32_t fields[8] = {node->type,       node->centreX,    node->centreY, node->radius,
                                   node->directionX, node->directionY, node->valueA,  node->valueB};
        std::memcpy(copy, fields, sizeof fields);
    }
    if (node->previous)
        node->previous->next = node->next;
    else
        mesh->items = node->next;
    if (node->next)
        node->next->previous = node->previous;
    allocatorFree(mesh->allocator, node);
    mesh->gridValid = 0;
    return kResultOk;
}

int warpMeshClearItems(WarpMesh *mesh)
{
    if (!mesh)
        return kResultOk;
    for (WarpItemNode *node = mesh->items; node;) {
        WarpItemNode *next = node->next;
        allocatorFree(mesh->allocator, node);
        node = next;
    }
    mesh->items = nullptr;
    mesh->gridValid = 0;
    return kResultOk;
}

// ---- Grid build -----------------------------------------------------------------------------

int warpMeshEnsureGrid(InnerEngine *inner, WarpMesh *mesh, int32_t width, int32_t height)
{
    if (mesh->gridValid && width == mesh->builtWidth && height == mesh->builtHeight)
        return 1;
    mesh->gridValid = 0;
    if (width < 2 || height < 2)
        return 0;
    const uint32_t imageCellW = cellSize(width, mesh->columns);
    const uint32_t imageCellH = cellSize(height, mesh->rows);
    if (imageCellW == 0 || imageCellH == 0 || imageCellW > uint32_t(INT32_MAX) ||
        imageCellH > uint32_t(INT32_MAX))
        return 0;

    const int32_t cellW = int32_t(cellSize(mesh->meshWidth, mesh->columns));
    const int32_t cellH = int32_t(cellSize(mesh->meshHeight, mesh->rows));
    for (int32_t i = 0; i < mesh->rows; ++i)
        for (int32_t j = 0; j < mesh->columns; ++j) {
            mesh->planeX[int64_t(i) * mesh->columns + j] = (j - 1) * cellW;
            mesh->planeY[int64_t(i) * mesh->columns + j] = (i - 1) * cellH;
        }
    if (inner)
        deformGridForFaces(inner, mesh->planeX, mesh->planeY, mesh->columns, mesh->rows);
    extrapolateOuterRing(mesh->planeX, mesh->columns, mesh->rows);
    extrapolateOuterRing(mesh->planeY, mesh->columns, mesh->rows);

    mesh->builtWidth = width;
    mesh->builtHeight = height;
    mesh->gridValid = 1;
    mesh->cellWidth = int32_t(imageCellW);
    mesh->cellHeight = int32_t(imageCellH);
    mesh->inverseCellWidth = int32_t((int64_t(1) << 28) / int64_t(imageCellW));
    mesh->inverseCellHeight = int32_t((int64_t(1) << 28) / int64_t(imageCellH));
    updateDirectionalRegions(mesh, cellW, cellH);
    return 1;
}

// ---- Item regions ---------------------------------------------------------------------------

int warpMeshRowHitsItem(const WarpMesh *mesh, int32_t x0, int32_t x1, int32_t y)
{
    return segmentHitsAnyItem(mesh, true, y, x0, x1);
}

int warpMeshColumnHitsItem(const WarpMesh *mesh, int32_t x, int32_t y0, int32_t y1)
{
    return segmentHitsAnyItem(mesh, false, x, y0, y1);
}

// ---- Source positions and the source rectangle ----------------------------------------------

void warpMeshSourceBilinear(const WarpMesh *mesh, int32_t x, int32_t y, int32_t *sx, int32_t *sy)
{
    const CellPosition cell = cellOf(mesh, x, y);
    *sx = bilinearOnPlane(mesh, mesh->planeX, cell) >> 8;
    *sy = bilinearOnPlane(mesh, mesh->planeY, cell) >> 8;
}

void warpMeshSourceCubic(const WarpMesh *mesh, int32_t x, int32_t y, int32_t *sx, int32_t *sy)
{
    const CellPosition cell = cellOf(mesh, x, y);
    *sx = cubicOnPlane(mesh, mesh->planeX, cell) >> 8;
    *sy = cubicOnPlane(mesh, mesh->planeY, cell) >> 8;
}

int warpMeshSourceRect(InnerEngine *inner, WarpMesh *mesh, const int32_t size[2],
                       const EngineRect *destination, EngineRect *source)
{
    if (!mesh || !size || !destination || !source)
        return kResultOk;
    const int32_t width = size[0], height = size[1];
    const EngineRect &d = *destination;
    Box o = {d.x, d.y, d.width, d.height};
    if (warpMeshEnsureGrid(inner, mesh, width, height)) {
        const bool cubic = mesh->mode == kWarpModeCubic;
        const int32_t margin = cubic ? kCubicMargin : kBilinearMargin;
        auto position = [&](int32_t x, int32_t y) {
            int32_t px, py;
            if (cubic)
                warpMeshSourceCubic(mesh, x, y, &px, &py);
            else
                warpMeshSourceBilinear(mesh, x, y, &px, &py);
            return VXL_POINT{px, py};
        };
        const int32_t x1 = d.x + d.width, y1 = d.y + d.height;

        // Top edge.
        if (warpMeshRowHitsItem(mesh, d.x, x1, d.y)) {
            const VXL_POINT first = position(d.x, d.y);
            o = {first.x, first.y, 1, 1};
            for (int32_t px = d.x + 1; px <= x1 - 2; ++px)
                o.extendUpTo(position(px, d.y).y);
            const VXL_POINT last = position(x1 - 1, d.y);
            o.extendRightTo(last.x);
            o.extendUpTo(last.y);
            o.y -= margin;
            o.height += margin;
        } else {
            o = {d.x, d.y, d.width, 1};
        }
        // Left edge.
        if (warpMeshColumnHitsItem(mesh, d.x, d.y + 1, y1)) {
            for (int32_t py = d.y + 1; py <= y1 - 2; ++py)
                o.extendLeftTo(position(d.x, py).x);
            o.x -= margin;
            o.width += margin;
        } else {
            o.extendLeftTo(d.x);
        }
        // Right edge.
        if (warpMeshColumnHitsItem(mesh, x1 - 1, d.y + 1, y1)) {
            for (int32_t py = d.y + 1; py <= y1 - 2; ++py)
                o.extendRightTo(position(x1 - 1, py).x);
            o.width += margin;
        } else {
            o.extendRightTo(x1 - 1);
        }
        // Bottom edge.
        if (warpMeshRowHitsItem(mesh, d.x, x1, y1 - 1)) {
            const VXL_POINT first = position(d.x, y1 - 1);
            o.extendLeftTo(first.x);
            o.extendDownTo(first.y);
            for (int32_t px = d.x + 1; px <= x1 - 2; ++px)
                o.extendDownTo(position(px, y1 - 1).y);
            const VXL_POINT last = position(x1 - 1, y1 - 1);
            o.extendRightTo(last.x);
            o.extendDownTo(last.y);
            o.height += margin;
        } else {
            o.extendLeftTo(d.x);
            o.extendRightTo(x1 - 1);
            o.extendUpTo(y1);
            o.extendDownTo(y1 - 1);
        }
    }
    // Clip to the image.
    if (o.x < 0) {
        o.width += o.x;
        o.x = 0;
    }
    if (o.y < 0) {
        o.height += o.y;
        o.y = 0;
    }
    if (o.x + o.width > width)
        o.width = width - o.x;
    if (o.y + o.height > height)
        o.height = height - o.y;
    *source = {o.x, o.y, o.width, o.height};
    return kResultOk;
}
