// The editing model's RAW development defaults, held through a shared pointer as everywhere in
// the editing model.
#pragma once

#include <QSharedPointer>

#include "vizoruv/io/raw_params.h"

// A new zero-filled record with the editing model's start-up defaults.
QSharedPointer<VXLRAWParams> makeDefaultRawParams();

// Writes the editing model's defaults into the record the pointer points to; a null pointer is
// left alone.
void defaultRawParams(QSharedPointer<VXLRAWParams> raw);
