// FaceMeshList: the platform's copy of the caller's face-mesh landmarks (slot 33), read by the
// portrait-light pass. The face-list slots 10 to 14 live in face_slots.cpp with the list.
#pragma once

#include <cstdint>
#include <vector>

// Floats of one face record: 478 points of x, y, z (x and y normalised to the picture).
constexpr int kFaceMeshPoints = 478;
constexpr int kFaceMeshRecordFloats = kFaceMeshPoints * 3;

class FaceMeshList {
public:
    // Replaces the stored records with a copy of count records. A count of 0 or below, or no
    // records, empties the list; so does a copy that cannot be allocated.
    void set(int count, const float* records);
    int count() const { return count_; }
    // Record index (kFaceMeshRecordFloats floats), or null when index is outside 0..count - 1.
    const float* record(int index) const;

private:
    int32_t count_ = 0;
    std::vector<float> records_;  // count_ records, one block
};
