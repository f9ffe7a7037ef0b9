// The red-eye library's entry points: automatic detection into a region list, correction of the
// listed eye areas, detection and correction in one call, and the region list itself.
#include "modules/redeye/redeye_exports.h"

#include "modules/redeye/redeye.h"

#include <cmath>
#include <new>
#include <type_traits>

#define RE_CHECK_SIGNATURE(name) \
    static_assert(std::is_same<decltype(&name), PFN_##name>::value, #name " does not match its pointer type");
RE_ENTRY_POINTS(RE_CHECK_SIGNATURE)
#undef RE_CHECK_SIGNATURE

using namespace redeye;

namespace {

// Runs work and answers its code; running out of memory answers RE_ERR_MEMORY instead of letting
// the exception cross the library's C boundary.
template <typename Work>
int32_t answerOf(Work&& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return RE_ERR_MEMORY;
    }
}

bool isListHead(const ReListLink* list) {
    return list && list->next && list->prev;
}

redeye::Box scaled(const Box& box, double sx, double sy) {
    const int x = int(std::floor(box.x * sx)), y = int(std::floor(box.y * sy));
    return {x, y, int(std::ceil((box.x + box.width) * sx)) - x, int(std::ceil((box.y + box.height) * sy)) - y,
            box.confidence};
}

}  // namespace

int32_t ReDetectAutoEx(const ReImage* scanned, const ReRequest* request, void* reserved1, void* reserved2,
                       void* reserved3, uint32_t flags, ReListLink* list) {
    return answerOf([&]() -> int32_t {
        Layout layout;
        const int32_t check = checkImage(scanned, &layout);
        if (check != RE_OK)
            return check;
        if (!isListHead(list) || (request && request->size != int32_t(sizeof(ReRequest))))
            return RE_ERR_ARGUMENT;
        const int targetWidth = scanned->targetWidth > 0 ? scanned->targetWidth : scanned->width;
        const int targetHeight = scanned->targetHeight > 0 ? scanned->targetHeight : scanned->height;
        const double sx = double(targetWidth) / scanned->width, sy = double(targetHeight) / scanned->height;

        int added = 0;
        for (const Box& box : findRedPupils(scanned, layout, flags)) {
            const Box area = scaled(box, sx, sy);
            ReRegion region = {};
            region.x = area.x;
            region.y = area.y;
            region.width = area.width;
            region.height = area.height;
            region.confidence = area.confidence;
            if (ReListInsert(list, &region) != RE_OK)
                return RE_ERR_MEMORY;
            ++added;
        }
        return added > 0 ? RE_OK : RE_NONE_FOUND;
    });
}

int32_t ReCorrectRegions(const ReImage* image, const ReListLink* list, void* reserved1, void* reserved2,
                         void* reserved3) {
    return answerOf([&]() -> int32_t {
        Layout layout;
        const int32_t check = checkImage(image, &layout);
        if (check != RE_OK)
            return check;
        if (!isListHead(list))
            return RE_ERR_ARGUMENT;
        for (const ReRegion* region = ReListNext(list, nullptr); region; region = ReListNext(list, region))
            correctInBox(image, layout, {region->x, region->y, region->width, region->height, region->confidence});
        return RE_OK;
    });
}

int32_t ReCorrectAuto(const ReImage* image, uint32_t flags) {
    return answerOf([&]() -> int32_t {
        Layout layout;
        const int32_t check = checkImage(image, &layout);
        if (check != RE_OK)
            return check;
        int changed = 0;
        for (const Box& box : findRedPupils(image, layout, flags ? flags : RE_DETECT_ALL))
            changed += correctInBox(image, layout, box);
        return changed > 0 ? RE_OK : RE_NONE_FOUND;
    });
}

const ReRegion* ReListNext(const ReListLink* list, const ReRegion* previous) {
    if (!isListHead(list))
        return nullptr;
    const ReListLink* next = previous ? previous->link.next : list->next;
    return next == list ? nullptr : reinterpret_cast<const ReRegion*>(next);
}

int32_t ReListInsert(ReListLink* list, const ReRegion* region) {
    if (!isListHead(list) || !region)
        return RE_ERR_ARGUMENT;
    ReRegion* copy = new (std::nothrow) ReRegion(*region);
    if (!copy)
        return RE_ERR_MEMORY;
    // Append at the tail.
    copy->link.prev = list->prev;
    copy->link.next = list;
    list->prev->next = &copy->link;
    list->prev = &copy->link;
    return RE_OK;
}

void ReListEmpty(ReListLink* list) {
    if (!isListHead(list))
        return;
    ReListLink* link = list->next;
    while (link != list) {
        ReListLink* next = link->next;
        delete reinterpret_cast<ReRegion*>(link);
        link = next;
    }
    reListInit(list);
}
