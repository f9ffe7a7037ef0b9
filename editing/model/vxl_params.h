// The correction parameter block in the editing model: the record (editing/model/records) with the
// operations that follow the application's identity and preset format version: the two default
// sets and the derivation of a group switch from its members.
#pragma once

#include "editing/model/records/vxl_params.h"

// Fills the block with the default set of the application's identity (the photo editor's when
// AppEnvironment::isPhotoIdentity answers true, else the general one).
void defaultParams(VXLParams* block);

// Fills the block with the default set of the given identity (the photo editor's or the general
// one). Every byte not named by a default is zero; version is the current preset format version.
// The selective-colour and black-and-white ranges follow the identity's hue table as it stands.
void defaultParams(VXLParams* block, bool photoIdentity);

// Whether any member of the named group is switched on in the block. Defined for "Tone",
// "Color", "Details", "Face", "Eyes", "Skin", "Makeup", "Looks", "Preprocess", "QuickCorrect" and
// "Skintone" (matched exactly); false for any other name.
bool isGroupEnabled(const char* groupName, const VXLParams& block);
