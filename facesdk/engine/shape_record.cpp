// The shape record store.
#include "facesdk/engine/shape_record.h"

#include <initializer_list>

void freeShapeRecords(EngineAllocator *allocator, FaceShapeRecord *records, uint32_t count)
{
    if (!records)
        return;
    for (uint32_t i = 0; i < count; ++i) {
        FaceShapeRecord &record = records[i];
        for (int32_t *curve : {record.lowerCurveDark, record.lowerCurveUpper, record.lowerCurveLower})
            if (curve)
                allocatorFree(allocator, curve);
    }
    allocatorFree(allocator, records);
}
