// The correction elements of a preset: "correction" holds layer 0 of the preset's stack,
// "correctionLayer1" to "correctionLayer3" hold layers 1 to 3 with their masks. Every setting is
// one child element named by its key whose text is the value ("<strength>80</strength>").
//
// Reading is lenient: unknown keys are skipped with their content, unparsable numbers read as 0,
// unparsable records and LUT identifiers as all zero. Malformed XML stops the stream reader; what
// was stored until then stays.
#pragma once

class Preset;
class QXmlStreamReader;
class QXmlStreamWriter;

// The reader stands on the start of "correction"; returns after its end element. Writes layer 0
// and the stack's graduated-filter switch, derives the group switches when the element names
// none, and stores "iSelectiveColorIndex" and "iBlackWhiteIndex" in the application settings.
// The preset must have its stack.
void readCorrection(Preset& preset, QXmlStreamReader& reader);

// The reader stands on the start of "correctionLayer<layer>", layer 1..3; returns after its end
// element. Writes the layer's finishing, built-in LUT and mask settings.
void readCorrectionLayer(Preset& preset, QXmlStreamReader& reader, int layer);

// The whole "correction" element of layer 0 (every key the reader knows, group switches included).
void writeCorrection(const Preset& preset, QXmlStreamWriter& writer);

// The whole "correctionLayer<layer>" element, layer 1..3.
void writeCorrectionLayer(const Preset& preset, QXmlStreamWriter& writer, int layer);
