/* The correction engine library as the platform sees it: its file names, the records the platform
 * hands it, and one pointer type per entry point.
 *
 * Divisions: file names; result and status codes; image record; profile and face records;
 * parameter block of VXL_Apply; background-mask request; entry points.
 *
 * The records are laid out byte for byte (static_asserts below); the library and the platform are
 * built apart and meet only through these layouts and the C entry points.
 */
#pragma once

#include <cstddef>
#include <cstdint>

/* ---- File names, in the module folder ---- */
#define VXL_ENGINE_FILE "VexiloPro64.dll"         /* the plain build */
#define VXL_ENGINE_AVX_FILE "VexiloPro64_AVX.dll" /* the build for processors with AVX */

/* ---- Result codes of the entry points that answer an int ---- */
enum : int32_t {
    VXL_OK = 0,
    VXL_ERR_ARGUMENT = -1,  /* a null record, a size under 1 or row bytes too short */
    VXL_ERR_FORMAT = -2,    /* a pixel code the entry point does not take */
    VXL_ERR_MEMORY = -3,    /* out of memory */
};

/* ---- Engine image record (24 bytes) ---- */
enum VxlPixelCode : int32_t {
    VXL_PIXEL_BGR8 = 0,
    VXL_PIXEL_RGB8 = 1,
    VXL_PIXEL_RGBA8 = 2,
    VXL_PIXEL_BGR16 = 3,
    VXL_PIXEL_BGRA16 = 4,
    VXL_PIXEL_BGRA8 = 5,
    VXL_PIXEL_RGB16 = 6,
    VXL_PIXEL_RGBA16 = 7,
};

struct VxlEngineImage {
    int32_t width;    /* pixels */
    int32_t height;   /* pixels */
    int32_t rowBytes; /* bytes from one row to the next */
    int32_t format;   /* VxlPixelCode */
    void* pixels;     /* first byte of the first row */
};

/* ---- Profile (the result of VXL_Calc) ---- */
/* The platform reads two words of a profile by offset; the rest belongs to the library. */
enum : size_t {
    VXL_PROFILE_STATUS_OFFSET = 40, /* int32: VXL_STATUS_* */
    VXL_PROFILE_FLAGS_OFFSET = 56,  /* int32: VXL_PROFILE_* bits */
};

enum : int32_t {
    VXL_PROFILE_FAILED = 1 << 0,   /* the analysis failed; the status says why */
    VXL_PROFILE_NO_NOISE = 1 << 1, /* no noise estimate was made (not asked, or image too small) */
};

enum : int32_t {
    VXL_STATUS_OK = 0,
    VXL_STATUS_BAD_ARGUMENT = 1, /* null image or pixels, or row bytes too short */
    VXL_STATUS_NO_MEMORY = 3,    /* out of memory */
    VXL_STATUS_TOO_SMALL = 5,    /* under 8 pixels on a side */
    VXL_STATUS_BAD_FORMAT = 7,   /* a pixel code outside VxlPixelCode */
};

/* Analysis mask bits of VXL_Calc. */
enum : uint32_t {
    VXL_CALC_TONE = 0x1,      /* histogram and exposure estimate */
    VXL_CALC_NOISE = 0x2,     /* noise estimate */
    VXL_CALC_EXTREME = 0x20,  /* one side more than 20 times the other: no face-area search */
    VXL_CALC_COLOUR = 0x80,   /* colour-cast (tint) estimate */
    VXL_CALC_DESCRIPT = 0x1000, /* descriptors of VXL_GetCartoonDetectionDescriptors */
};

typedef struct VxlProfile VxlProfile; /* opaque beyond the two words above */

static inline int32_t vxlProfileWord(const VxlProfile* profile, size_t offset) {
    int32_t value;
    const unsigned char* bytes = (const unsigned char*)profile;
    __builtin_memcpy(&value, bytes + offset, sizeof value);
    return value;
}

/* Face-area record of VXL_EnumFAEFaceRect (128 bytes). */
struct VxlFaceRect {
    int32_t rects[12];       /* three rectangles x, y, width, height, in analysed pixels */
    int32_t reserved48[9];
    int32_t score1;          /* byte 84: 0..100 */
    int32_t reserved88[4];
    int32_t score2;          /* byte 104: 0..100 */
    int32_t reserved108[4];
    int32_t analysedWidth;   /* byte 124: width of the image the rectangles refer to */
};

/* ---- Parameter block of VXL_Apply (804 bytes, all int32 unless marked) ---- */
struct VxlEngineParams {
    int32_t enable;                 /*   0: 0 = leave the image as it is */
    int32_t tintOn;                 /*   4: remove the colour cast */
    int32_t tintMethod;             /*   8 */
    float tintScale;                /*  12: share of the cast removed, 0..1 (0 = all of it) */
    int32_t blackEnhance;           /*  16: black-point lift, 0..100 */
    int32_t tccOn;                  /*  20: vibrance on */
    int32_t tcc;                    /*  24: vibrance, -100..100 */
    int32_t exposureStrength;       /*  28: percent of the estimated exposure change, 0..150; the
                                           engine leaves here the strength it used */
    int32_t contrastOn;             /*  32 */
    int32_t contrastMode;           /*  36 */
    int32_t contrast;               /*  40: 0..100 */
    int32_t skinDepthBias;          /*  44 */
    float skinDepth;                /*  48 */
    int32_t highlightPreservation;  /*  52: 0..100 */
    int32_t highlightPreservationOn;/*  56: 0 or 1 */
    int32_t reserved60;             /*  60 */
    float sharpenScale;             /*  64 */
    int32_t autoExposure;           /*  68: 1 = the engine chooses the strength */
    int32_t faceAwareExposure;      /*  72 */
    int32_t aggressive;             /*  76: automatic strength bias, -100..100 */
    int32_t governor;               /*  80: limit of the automatic change, 0..100 */
    int32_t skinToneCorrectionOn;   /*  84 */
    float skinToneScale;            /*  88 */
    int32_t lightDiffusionOn;       /*  92 */
    float lightDiffusion;           /*  96 */
    int32_t dynamicRange;           /* 100 */
    int32_t dcfOn;                  /* 104 */
    int32_t dcf;                    /* 108 */
    float fidelity;                 /* 112 */
    int32_t localContrast;          /* 116 */
    int32_t reserved120;            /* 120 */
    int32_t minStrength;            /* 124: lower limit of the automatic strength */
    int32_t reserved128[2];         /* 128 */
    int32_t skintoneStrengthExposure; /* 136 */
    int32_t reserved140[4];         /* 140 */
    int32_t selectiveColorOn;       /* 156 */
    int32_t selectiveColor[8][7];   /* 160 */
    int32_t blackWhiteOn;           /* 384 */
    int32_t blackWhite[8][7];       /* 388 */
    int32_t reserved612[33];        /* 612 */
    int32_t noiseRemovalOn;         /* 744 */
    int32_t presetNumber;           /* 748 */
    int32_t noiseStrength;          /* 752 */
    int32_t noiseDetail;            /* 756 */
    int32_t reserved760;            /* 760 */
    int32_t dp2Density;             /* 764 */
    int32_t dp2DeltaR;              /* 768 */
    int32_t dp2DeltaG;              /* 772 */
    int32_t dp2DeltaB;              /* 776 */
    float dp2Gamma;                 /* 780 */
    int32_t dp2Contrast;            /* 784 */
    int32_t dp2Saturation;          /* 788 */
    int32_t dp2Mode;                /* 792 */
    int32_t dp2Auto;                /* 796 */
    int32_t dp2Enable;              /* 800 */
};

/* ---- Background-mask request of VXL_FillBGMask (68 bytes) ---- */
struct VxlBGMaskRequest {
    int32_t kind;         /*  0: 7 */
    int32_t reserved4[3];
    int32_t amount;       /* 16: bgmAmount, 0..100: how far the mask reaches into the picture */
    int32_t scale;        /* 20: 100 */
    int16_t smooth;       /* 24: 1 = soften the mask edge */
    int16_t reserved26[3];
    uint8_t eightBit;     /* 32: 1 = one byte per mask pixel */
    uint8_t reserved33[3];
    int32_t strength;     /* 36: bgmStrength, 0..100: how sharply background and subject part */
    int32_t bytesPerMaskPixel; /* 40: 4 */
    int32_t reserved44[6];
};

typedef void* VxlEngineHandle;
typedef struct VxlBGProfile VxlBGProfile;

/* ---- Entry points, one pointer type each (the library exports them with C names) ---- */
typedef VxlEngineHandle (*PFN_VXL_CreateEngine)(void);
typedef void (*PFN_VXL_DestroyEngine)(VxlEngineHandle engine);
typedef VxlProfile* (*PFN_VXL_Calc)(const VxlEngineImage* image, void* reserved, VxlEngineHandle engine,
                                    uint32_t mask, int32_t iso, const char* camera, void* reserved2,
                                    void* reserved3, int32_t extra, VxlEngineHandle engine2);
typedef void (*PFN_VXL_ReleaseProfile)(VxlProfile* profile);
typedef uint8_t (*PFN_VXL_IsNoiseDetected)(const VxlProfile* profile, int32_t level);
typedef uint8_t (*PFN_VXL_AbnormalTintDetected)(const VxlProfile* profile, int32_t threshold);
typedef int32_t (*PFN_VXL_FAEFaceCount)(const VxlProfile* profile);
typedef const VxlFaceRect* (*PFN_VXL_EnumFAEFaceRect)(const VxlProfile* profile, const VxlFaceRect* previous);
typedef int32_t (*PFN_VXL_GetCartoonDetectionDescriptors)(const VxlProfile* profile, float* buffer,
                                                          int32_t* count, float* a, float* b,
                                                          int32_t* colours, int32_t* flag);
typedef int32_t (*PFN_VXL_Apply)(const VxlEngineImage* image, VxlEngineHandle engine,
                                 const VxlProfile* profile, VxlEngineParams* params, void* reserved,
                                 int32_t amount, void* reserved2);
typedef int32_t (*PFN_VXL_SetParam)(VxlEngineHandle engine, int32_t key, int32_t value);
typedef int32_t (*PFN_VXL_Resize)(const VxlEngineImage* source, const VxlEngineImage* target);
typedef int32_t (*PFN_VXL_CropToFill)(const VxlEngineImage* source, VxlEngineImage* crop,
                                      int32_t* targetWidth, int32_t* targetHeight);
typedef int32_t (*PFN_VXL_CalcAutoSharpness)(const VxlEngineImage* image, int32_t reserved, float* amount,
                                             int32_t* edgePercent, int32_t* radiusTenths, int32_t reserved2);
typedef int32_t (*PFN_VXL_Sharpen)(const VxlEngineImage* image, int32_t strength, float radius, int32_t mode);
typedef VxlBGProfile* (*PFN_VXL_CreateBGProfile)(void);
typedef int32_t (*PFN_VXL_BGSyncCalc)(const VxlEngineImage* image, VxlEngineHandle engine,
                                      VxlBGProfile* profile, int32_t mode);
typedef int32_t (*PFN_VXL_BGSyncApply)(const VxlEngineImage* image, const uint8_t* mask, VxlEngineHandle engine,
                                       int32_t reserved, double targetR, double targetG, double targetB,
                                       int32_t exposure, double r, double g, double b, int32_t tolerance,
                                       int32_t background, int32_t foreground);
typedef int32_t (*PFN_VXL_RGBFromBGProfile)(const VxlBGProfile* profile, double* r, double* g, double* b);
typedef void (*PFN_VXL_ReleaseBGProfile)(VxlBGProfile* profile);
typedef int32_t (*PFN_VXL_FillBGMask)(const VxlEngineImage* image, VxlEngineHandle engine,
                                      const VxlProfile* profile, uint8_t* mask, const VxlBGMaskRequest* request);
typedef void (*PFN_VXL_SetSingleThreadedEngine)(VxlEngineHandle engine, int32_t flag);
typedef void (*PFN_VXL_SetAIEngines)(VxlEngineHandle engine, void* first, void* second, void* third);
typedef const char* (*PFN_VXL_GetAutoSkintoneParameters)(uint32_t type, int32_t* first, int32_t* second);
typedef void (*PFN__SetFilterRecord)(void* hostRecord);

/* The 24 "VXL_" entry points and _SetFilterRecord, in look-up order: X(name). */
#define VXL_ENGINE_ENTRY_POINTS(X) \
    X(VXL_CreateEngine) X(VXL_DestroyEngine) X(VXL_Calc) X(VXL_ReleaseProfile) X(VXL_IsNoiseDetected) \
    X(VXL_AbnormalTintDetected) X(VXL_FAEFaceCount) X(VXL_EnumFAEFaceRect) \
    X(VXL_GetCartoonDetectionDescriptors) X(VXL_Apply) X(VXL_SetParam) X(VXL_Resize) X(VXL_CropToFill) \
    X(VXL_CalcAutoSharpness) X(VXL_Sharpen) X(VXL_CreateBGProfile) X(VXL_BGSyncCalc) X(VXL_BGSyncApply) \
    X(VXL_RGBFromBGProfile) X(VXL_ReleaseBGProfile) X(VXL_FillBGMask) X(VXL_SetSingleThreadedEngine) \
    X(VXL_SetAIEngines) X(VXL_GetAutoSkintoneParameters) X(_SetFilterRecord)

static_assert(sizeof(VxlEngineImage) == 24, "engine image record");
static_assert(offsetof(VxlEngineImage, pixels) == 16, "engine image record");
static_assert(sizeof(VxlFaceRect) == 128, "face-area record");
static_assert(offsetof(VxlFaceRect, score1) == 84 && offsetof(VxlFaceRect, score2) == 104 &&
                  offsetof(VxlFaceRect, analysedWidth) == 124, "face-area record");
static_assert(sizeof(VxlEngineParams) == 804, "parameter block");
static_assert(offsetof(VxlEngineParams, exposureStrength) == 28 && offsetof(VxlEngineParams, autoExposure) == 68 &&
                  offsetof(VxlEngineParams, dynamicRange) == 100 && offsetof(VxlEngineParams, minStrength) == 124 &&
                  offsetof(VxlEngineParams, skintoneStrengthExposure) == 136 &&
                  offsetof(VxlEngineParams, selectiveColorOn) == 156 && offsetof(VxlEngineParams, blackWhiteOn) == 384 &&
                  offsetof(VxlEngineParams, blackWhite) == 388 && offsetof(VxlEngineParams, noiseRemovalOn) == 744 &&
                  offsetof(VxlEngineParams, dp2Density) == 764 && offsetof(VxlEngineParams, dp2Enable) == 800,
              "parameter block");
static_assert(sizeof(VxlBGMaskRequest) == 68, "background-mask request");
static_assert(offsetof(VxlBGMaskRequest, amount) == 16 && offsetof(VxlBGMaskRequest, smooth) == 24 &&
                  offsetof(VxlBGMaskRequest, eightBit) == 32 && offsetof(VxlBGMaskRequest, strength) == 36 &&
                  offsetof(VxlBGMaskRequest, bytesPerMaskPixel) == 40,
              "background-mask request");
