// The correction state of an image document and the undo layer under it.
//
// Every correction of a document lives in one VxlImageState: the preset carrying the parameter
// stack, the master-amount record, the RAW development record and the crop settings. A state is
// never changed once pushed; an edit copies the current state, changes the copy and hands it to
// Undoable::pushState, which turns it into an undo command on the document's QUndoStack.
//
// Divisions: crop value types; the state record; the undo layer.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QRectF>
#include <QSharedPointer>
#include <QString>
#include <QUndoCommand>

#include "editing/model/master_amount.h"
#include "editing/model/preset.h"
#include "vizoruv/io/raw_params.h"

class QUndoStack;

// ---- Crop value types -----------------------------------------------------------------------

struct QHeadCropProperties {
    double zoom = 3.0;      // crop height as a multiple of the face rectangle's height
    double offsetX = 0;     // crop centre right of the face centre, percent of the crop width
    double offsetY = 0;     // crop centre below the face centre, percent of the crop height
    int32_t aspectWidth = 4;  // crop aspect ratio, width part
    int32_t aspectHeight = 5; // crop aspect ratio, height part
    double lineRatio = 0;   // face-mesh line inside the crop, 0 top .. 1 bottom
    int32_t mode = 0;       // 3: framed by the face-mesh rectangle; else by the face rectangle
    bool auxFlag = false;   // carried for the host, not read here
    int32_t auxInt = 12;    // carried for the host, not read here
    double auxDouble1 = 1.0; // carried for the host, not read here
    double auxDouble2 = 1.0; // carried for the host, not read here
};

struct CropSettings {
    bool flipH = false;       // mirror left-right
    bool flipV = false;       // mirror top-bottom
    double rotation = 0;      // coarse rotation, degrees
    double straighten = 0;    // fine rotation, degrees, applied after rotation
    QRectF cropRect{0, 0, 1, 1}; // normalised to the oriented image
    bool headCrop = false;    // headCropProperties are in force
    QHeadCropProperties headCropProperties;
};

// Whether a crop change is a change: doubles by qFuzzyCompare, head-crop fields only when the
// head crop is on, the aux fields never.
bool cropSettingsEqual(const CropSettings& a, const CropSettings& b);

// ---- The state record -----------------------------------------------------------------------

struct VxlImageState {
    SharedPreset preset;                 // the correction
    QSharedPointer<UberParams> uber;     // master amount: base block, slider, base offset
    QSharedPointer<VXLRAWParams> raw;    // RAW development settings
    CropSettings crop;                   // orientation, crop rectangle, head crop
};

using SharedVxlImageState = QSharedPointer<VxlImageState>;

// A new state equal to source: a new preset copied from source's (names, flags, group and
// stack; not pristine, not the links), new copies of the master-amount and RAW records (null
// stays null) and the crop.
SharedVxlImageState copyImageState(const SharedVxlImageState& source);

// How a pushed state joins the undo history.
enum PushOption : int32_t {
    PushNewStep = 0,       // a step of its own
    PushMergeSameId = 1,   // folded into the previous step when that was pushed with this option
                           // and the same command id (a slider drag makes one step)
};

// Registers SharedVxlImageState, PushOption and the crop types for queued signals and spies.
void registerImageStateMetaTypes();

// ---- The undo layer -------------------------------------------------------------------------

class Undoable : public QObject {
    Q_OBJECT

public:
    explicit Undoable(QObject* parent = nullptr);
    ~Undoable() override;

    // The history of this document's states; owned by the document.
    QUndoStack* undoStack() const { return m_undoStack; }

    // Turns state into an undo command and pushes it; pushing applies it. The command id names
    // the kind of edit ("uber", "crop", ...); PushMergeSameId folds successive edits of one id.
    virtual void pushState(SharedVxlImageState state, QString cmdId, PushOption opt);

signals:
    // A command was pushed (or an earlier one absorbed the new state); cmd is the stack's top.
    void stateChanged(QUndoCommand* cmd, PushOption opt);

protected:
    friend class ImageStateCommand;
    // The state the next command starts from.
    virtual SharedVxlImageState currentState() const = 0;
    // Makes state current; called by the undo commands (push, undo, redo).
    virtual void applyState(const SharedVxlImageState& state) = 0;

private:
    QUndoStack* m_undoStack;
};

Q_DECLARE_METATYPE(SharedVxlImageState)
Q_DECLARE_METATYPE(QUndoCommand*)
Q_DECLARE_METATYPE(PushOption)
Q_DECLARE_METATYPE(CropSettings)
Q_DECLARE_METATYPE(QHeadCropProperties)
