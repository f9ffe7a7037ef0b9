#include "editing/model/image_state.h"

#include <QUndoCommand>
#include <QUndoStack>

#include <functional>

// ---- Crop value types -----------------------------------------------------------------------

namespace {

// Qt's fuzzy comparison, except that a value always equals itself (qFuzzyCompare answers false
// for two equal infinities).
bool sameDouble(double a, double b)
{
    return a == b || qFuzzyCompare(a, b);
}

bool rectsEqual(const QRectF& a, const QRectF& b)
{
    return sameDouble(a.x(), b.x()) && sameDouble(a.y(), b.y()) && sameDouble(a.width(), b.width()) &&
           sameDouble(a.height(), b.height());
}

// Aspect ratios compare as ratios (4:5 equals 8:10); a height of 0 makes no ratio, and such an
// aspect equals only the same pair.
bool sameAspect(const QHeadCropProperties& p, const QHeadCropProperties& q)
{
    if (p.aspectWidth == q.aspectWidth && p.aspectHeight == q.aspectHeight)
        return true;
    if (p.aspectHeight == 0 || q.aspectHeight == 0)
        return false;
    return sameDouble(double(p.aspectWidth) / p.aspectHeight, double(q.aspectWidth) / q.aspectHeight);
}

}  // namespace

bool cropSettingsEqual(const CropSettings& a, const CropSettings& b)
{
    if (a.headCrop != b.headCrop)
        return false;
    const bool baseEqual = a.flipH == b.flipH && a.flipV == b.flipV && sameDouble(a.rotation, b.rotation) &&
                           sameDouble(a.straighten, b.straighten) && rectsEqual(a.cropRect, b.cropRect);
    if (!baseEqual || !a.headCrop)
        return baseEqual;
    const QHeadCropProperties& p = a.headCropProperties;
    const QHeadCropProperties& q = b.headCropProperties;
    return sameDouble(p.zoom, q.zoom) && sameDouble(p.offsetX, q.offsetX) && sameDouble(p.offsetY, q.offsetY) &&
           sameAspect(p, q) && sameDouble(p.lineRatio, q.lineRatio) && p.mode == q.mode;
}

// ---- The state record -----------------------------------------------------------------------

namespace {

template <typename Record>
QSharedPointer<Record> copyRecord(const QSharedPointer<Record>& source)
{
    return source ? QSharedPointer<Record>(new Record(*source)) : QSharedPointer<Record>();
}

}  // namespace

SharedVxlImageState copyImageState(const SharedVxlImageState& source)
{
    SharedVxlImageState copy(new VxlImageState);
    copy->preset = makeSharedPreset();
    if (source->preset)
        copy->preset->copyFrom(source->preset);
    copy->uber = copyRecord(source->uber);
    copy->raw = copyRecord(source->raw);
    copy->crop = source->crop;
    return copy;
}

void registerImageStateMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<SharedVxlImageState>("SharedVxlImageState");
        qRegisterMetaType<PushOption>("PushOption");
        qRegisterMetaType<QUndoCommand*>("QUndoCommand*");
        qRegisterMetaType<CropSettings>("CropSettings");
        qRegisterMetaType<QHeadCropProperties>("QHeadCropProperties");
        registerPresetMetaTypes();
        return true;
    }();
    Q_UNUSED(registered);
}

// ---- The undo layer -------------------------------------------------------------------------

// One step of a document's history: undo restores the state before, redo the state after.
class ImageStateCommand : public QUndoCommand {
public:
    ImageStateCommand(Undoable* document, SharedVxlImageState before, SharedVxlImageState after,
                      const QString& cmdId, PushOption opt)
        : QUndoCommand(cmdId), m_document(document), m_before(std::move(before)), m_after(std::move(after)),
          m_mergeId(opt == PushMergeSameId ? int(qHash(cmdId) & 0x7fffffff) : -1)
    {
    }

    void undo() override { m_document->applyState(m_before); }
    void redo() override { m_document->applyState(m_after); }
    int id() const override { return m_mergeId; }

    bool mergeWith(const QUndoCommand* other) override
    {
        // Equal hashes of different ids must not merge.
        if (other->text() != text())
            return false;
        m_after = static_cast<const ImageStateCommand*>(other)->m_after;
        return true;
    }

private:
    Undoable* m_document;
    SharedVxlImageState m_before;
    SharedVxlImageState m_after;
    int m_mergeId;
};

Undoable::Undoable(QObject* parent) : QObject(parent), m_undoStack(new QUndoStack(this))
{
    registerImageStateMetaTypes();
}

Undoable::~Undoable() = default;

void Undoable::pushState(SharedVxlImageState state, QString cmdId, PushOption opt)
{
    if (!state)
        return;
    // A merged command is deleted by push; the stack's top is the step that now holds the state.
    m_undoStack->push(new ImageStateCommand(this, currentState(), std::move(state), cmdId, opt));
    emit stateChanged(const_cast<QUndoCommand*>(m_undoStack->command(m_undoStack->index() - 1)), opt);
}
