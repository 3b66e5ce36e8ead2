/*
 * lv_zef: the .zef image decoder for LVGL 9 (see lv_zef.h).
 *
 * Two paths. A draw unit of its own takes LVGL's image tasks that the
 * device decoder can draw itself (untransformed, plain blend, no mask,
 * no partial recolour, onto a layer format it has a canvas for, with the
 * image cache off) and draws them with zefdec_draw_with straight into the
 * layer's buffer, clipped to the task's clip area: no decoded lines, no
 * second blend. Every other task is LVGL's software renderer's, which
 * reaches the image decoder below.
 *
 * A decoder session keeps one zefdec_image and the line it will decode
 * next, so that LVGL's requests for the following lines of an area go on
 * from there. LVGL opens a new session for every band it draws; the state
 * of an image a band left part-way is kept in a resume slot, so that the
 * next band starts from it instead of decoding the lines above again. The
 * direct path gets the same from zefdec_draw, which resumes where the
 * archive's last draw of an image stopped: it draws each image through a
 * copy of the archive of its own (a draw slot), so that the images of one
 * band do not take each other's place.
 */
#include "lv_zef.h"

/* The decoder's session and cache structures are only declared in LVGL's
 * private headers, which its own decoders use too. */
#ifdef LV_LVGL_H_INCLUDE_SIMPLE
#include "lvgl_private.h"
#else
#include "lvgl/lvgl_private.h"
#endif
/* lv_draw_sw_image, for a layer buffer the device decoder cannot take. */
#if LV_USE_DRAW_SW
#ifdef LV_LVGL_H_INCLUDE_SIMPLE
#include "src/draw/sw/lv_draw_sw.h"
#else
#include "lvgl/src/draw/sw/lv_draw_sw.h"
#endif
#endif

#include <string.h>

#define DECODED_FORMAT LV_COLOR_FORMAT_ARGB8888
#define DECODED_BYTES 4

typedef struct session_t {
    const lv_zef_source_t * source;
    zefdec_image image;
    uint32_t next_line;           /* of the image, as zefdec_line goes */
    uint32_t width, height;
    uint8_t alpha;                /* the image stores alpha */
    uint8_t failed;
    uint8_t * line;               /* a whole line: BGR888, then alpha */
    lv_draw_buf_t * area;         /* the decoded lines handed to LVGL */
} session_t;

typedef struct resume_slot_t {
    const lv_zef_archive_t * archive;
    uint32_t generation;
    uint32_t position;
    uint32_t next_line;
    zefdec_image image;
} resume_slot_t;

typedef struct draw_slot_t {
    const lv_zef_archive_t * archive;
    uint32_t generation;
    uint32_t position;
    int32_t top;                  /* of the image on the layer: two places of one image are two slots */
    zefdec_archive drawn;         /* remembers where its last draw stopped */
} draw_slot_t;

static lv_image_decoder_t * registered;
static lv_draw_unit_t * unit;
static uint32_t generations;
static resume_slot_t slots[LV_ZEF_RESUME_SLOTS];
static uint32_t next_slot;
static draw_slot_t draw_slots[LV_ZEF_DRAW_SLOTS];
static uint32_t next_draw_slot;

static int read_file(void * user, uint32_t offset, void * buffer, uint32_t length)
{
    lv_fs_file_t * file = user;
    uint32_t read = 0;
    if(lv_fs_seek(file, offset, LV_FS_SEEK_SET) != LV_FS_RES_OK) return 1;
    if(lv_fs_read(file, buffer, length, &read) != LV_FS_RES_OK) return 1;
    return read == length ? 0 : 1;
}

static int open_file(lv_zef_archive_t * a)
{
    uint32_t size = 0;
    int result;
    if(lv_fs_open(&a->file, a->path, LV_FS_MODE_RD) != LV_FS_RES_OK) return ZEFDEC_E_READ;
    if(lv_fs_get_size(&a->file, &size) != LV_FS_RES_OK) {
        lv_fs_close(&a->file);
        return ZEFDEC_E_READ;
    }
    a->reader = lv_malloc(sizeof(zefdec_reader));
    if(a->reader == NULL) {
        lv_fs_close(&a->file);
        return ZEFDEC_E_READ;
    }
    result = zefdec_open_reader(&a->archive, a->reader, read_file, &a->file, size, a->flags);
    if(result != ZEFDEC_OK) {
        lv_free(a->reader);
        a->reader = NULL;
        lv_fs_close(&a->file);
    }
    return result;
}

int lv_zef_archive_open(lv_zef_archive_t * a)
{
    int result;
    if(a == NULL) return ZEFDEC_E_ARGUMENT;
    if(a->generation != 0) return ZEFDEC_OK;
    if(a->data != NULL) result = zefdec_open_with(&a->archive, a->data, a->size, a->flags);
    else if(a->path != NULL) result = open_file(a);
    else result = ZEFDEC_E_ARGUMENT;
    if(result != ZEFDEC_OK) {
        LV_LOG_WARN("lv_zef: the archive %s is refused: %s", a->path ? a->path : "in memory",
                    zefdec_strerror(result));
        return result;
    }
    /* Never 0, so that a slot of an archive closed and opened again is
     * never taken for the new one's. */
    if(++generations == 0) ++generations;
    a->generation = generations;
    return ZEFDEC_OK;
}

void lv_zef_archive_close(lv_zef_archive_t * a)
{
    if(a == NULL || a->generation == 0) return;
    if(a->reader != NULL) {
        lv_fs_close(&a->file);
        lv_free(a->reader);
        a->reader = NULL;
    }
    a->generation = 0;
}

static const lv_zef_source_t * source_at(const void * src)
{
    const lv_image_dsc_t * image;
    const lv_zef_source_t * source;
    if(lv_image_src_get_type(src) != LV_IMAGE_SRC_VARIABLE) return NULL;
    image = src;
    if(image->header.magic != LV_IMAGE_HEADER_MAGIC || image->header.cf != LV_COLOR_FORMAT_RAW_ALPHA ||
       image->data_size != sizeof(lv_zef_source_t) || image->data == NULL) {
        return NULL;
    }
    source = (const lv_zef_source_t *)image->data;
    return source->magic == LV_ZEF_SOURCE_MAGIC && source->archive != NULL ? source : NULL;
}

static const lv_zef_source_t * source_of(const lv_image_decoder_dsc_t * dsc)
{
    return dsc->src_type == LV_IMAGE_SRC_VARIABLE ? source_at(dsc->src) : NULL;
}

static int source_info(const lv_zef_source_t * source, zefdec_image_info * info)
{
    int result = lv_zef_archive_open(source->archive);
    if(result == ZEFDEC_OK) result = zefdec_info(&source->archive->archive, source->position, info);
    if(result != ZEFDEC_OK) {
        LV_LOG_WARN("lv_zef: image %u cannot be decoded: %s", (unsigned)source->position,
                    zefdec_strerror(result));
    }
    return result;
}

static lv_result_t info_cb(lv_image_decoder_t * decoder, lv_image_decoder_dsc_t * dsc,
                           lv_image_header_t * header)
{
    const lv_zef_source_t * source = source_of(dsc);
    zefdec_image_info info;
    LV_UNUSED(decoder);
    if(source == NULL) return LV_RESULT_INVALID;
    if(source_info(source, &info) != ZEFDEC_OK) return LV_RESULT_INVALID;
    lv_memzero(header, sizeof(*header));
    header->magic = LV_IMAGE_HEADER_MAGIC;
    header->cf = DECODED_FORMAT;
    header->w = info.width;
    header->h = info.height;
    header->stride = info.width * DECODED_BYTES;
    return LV_RESULT_OK;
}

static void fail(session_t * s, int result)
{
    LV_LOG_WARN("lv_zef: image %u cannot be decoded: %s", (unsigned)s->source->position,
                zefdec_strerror(result));
    s->failed = 1;
}

/* Decodes the next line and puts its pixels x .. x + count - 1 into `row`
 * as ARGB8888 (lv_color32_t: blue, green, red, alpha). */
static int decode_line(session_t * s, uint8_t * row, uint32_t x, uint32_t count)
{
    uint8_t * colours = s->line;
    uint8_t * alphas = s->line + s->width * 3;
    const uint8_t * c;
    uint32_t n;
    int result = zefdec_line(&s->image, colours, s->alpha ? alphas : NULL, s->width);
    if(result != ZEFDEC_OK) return result;
    ++s->next_line;
    c = colours + x * 3;
    for(n = 0; n < count; ++n, c += 3, row += 4) {
        row[0] = c[0];
        row[1] = c[1];
        row[2] = c[2];
        row[3] = s->alpha ? alphas[x + n] : 0xFF;
    }
    return ZEFDEC_OK;
}

static int restart(session_t * s)
{
    const lv_zef_source_t * source = s->source;
    int result = zefdec_begin(&s->image, &source->archive->archive, source->position, ZEFDEC_BGR888);
    s->next_line = 0;
    return result;
}

/* The slot of the same image whose line is the latest one not past `line`
 * and past the session's own, or NULL. */
static resume_slot_t * slot_before(const session_t * s, uint32_t line)
{
    resume_slot_t * best = NULL;
    uint32_t n;
    for(n = 0; n < LV_ZEF_RESUME_SLOTS; ++n) {
        resume_slot_t * slot = &slots[n];
        if(slot->archive == s->source->archive && slot->generation == s->source->archive->generation &&
           slot->position == s->source->position && slot->next_line <= line &&
           (best == NULL || slot->next_line > best->next_line)) {
            best = slot;
        }
    }
    return best;
}

/* Brings the session to the start of `line`: goes on from where it is,
 * or from a slot that is further, or from the top for a line above. */
static int seek_line(session_t * s, uint32_t line)
{
    resume_slot_t * slot;
    int result = ZEFDEC_OK;
    if(line < s->next_line) result = restart(s);
    if(result != ZEFDEC_OK) return result;
    slot = slot_before(s, line);
    if(slot != NULL && slot->next_line > s->next_line) {
        s->image = slot->image;
        s->next_line = slot->next_line;
    }
    while(s->next_line < line) {
        result = zefdec_line(&s->image, NULL, NULL, s->width);
        if(result != ZEFDEC_OK) return result;
        ++s->next_line;
    }
    return ZEFDEC_OK;
}

static void keep_place(const session_t * s)
{
    resume_slot_t * slot = NULL;
    uint32_t n;
    if(s->failed || s->next_line == 0 || s->next_line >= s->height) return;
    for(n = 0; n < LV_ZEF_RESUME_SLOTS && slot == NULL; ++n) {
        if(slots[n].archive == s->source->archive && slots[n].position == s->source->position) slot = &slots[n];
    }
    if(slot == NULL) slot = &slots[next_slot++ % LV_ZEF_RESUME_SLOTS];
    slot->archive = s->source->archive;
    slot->generation = s->source->archive->generation;
    slot->position = s->source->position;
    slot->next_line = s->next_line;
    slot->image = s->image;
}

static void free_session(session_t * s)
{
    if(s == NULL) return;
    if(s->area != NULL) lv_draw_buf_destroy(s->area);
    lv_free(s->line);
    lv_free(s);
}

/* With the image cache on, the whole image is decoded once and handed to
 * the cache, which frees it when it drops the image. */
static lv_result_t decode_whole(lv_image_decoder_t * decoder, lv_image_decoder_dsc_t * dsc, session_t * s)
{
    lv_image_cache_data_t key;
    lv_cache_entry_t * entry;
    lv_draw_buf_t * whole = lv_draw_buf_create(s->width, s->height, DECODED_FORMAT, LV_STRIDE_AUTO);
    uint32_t y;
    if(whole == NULL) return LV_RESULT_INVALID;
    for(y = 0; y < s->height; ++y) {
        const int result = decode_line(s, whole->data + y * whole->header.stride, 0, s->width);
        if(result != ZEFDEC_OK) {
            fail(s, result);
            lv_draw_buf_destroy(whole);
            return LV_RESULT_INVALID;
        }
    }
    lv_memzero(&key, sizeof(key));
    key.src_type = dsc->src_type;
    key.src = dsc->src;
    key.slot.size = whole->data_size;
    entry = lv_image_decoder_add_to_cache(decoder, &key, whole, NULL);
    if(entry == NULL) {
        lv_draw_buf_destroy(whole);
        return LV_RESULT_INVALID;
    }
    dsc->decoded = whole;
    dsc->cache_entry = entry;
    return LV_RESULT_OK;
}

static lv_result_t open_cb(lv_image_decoder_t * decoder, lv_image_decoder_dsc_t * dsc)
{
    const lv_zef_source_t * source = source_of(dsc);
    zefdec_image_info info;
    session_t * s;
    int result;
    lv_result_t done;
    if(source == NULL || source_info(source, &info) != ZEFDEC_OK) return LV_RESULT_INVALID;
    s = lv_malloc_zeroed(sizeof(*s));
    if(s == NULL) return LV_RESULT_INVALID;
    s->source = source;
    s->width = info.width;
    s->height = info.height;
    s->alpha = info.alpha_bits != 0;
    s->line = lv_malloc(info.width * 4);
    if(s->line == NULL) {
        free_session(s);
        return LV_RESULT_INVALID;
    }
    result = restart(s);
    if(result != ZEFDEC_OK) {
        fail(s, result);
        free_session(s);
        return LV_RESULT_INVALID;
    }
    if(lv_image_cache_is_enabled() && !dsc->args.no_cache) {
        done = decode_whole(decoder, dsc, s);
        free_session(s);
        return done;
    }
    dsc->user_data = s;
    return LV_RESULT_OK;
}

static lv_result_t get_area_cb(lv_image_decoder_t * decoder, lv_image_decoder_dsc_t * dsc,
                               const lv_area_t * full_area, lv_area_t * decoded_area)
{
    session_t * s = dsc->user_data;
    uint32_t first, last, x, count, lines, room, n;
    int result;
    LV_UNUSED(decoder);
    if(s == NULL || s->failed || full_area->x2 < full_area->x1 || full_area->y2 < full_area->y1) {
        return LV_RESULT_INVALID;
    }
    if(full_area->x1 < 0 || full_area->y1 < 0 || (uint32_t)full_area->x2 >= s->width ||
       (uint32_t)full_area->y2 >= s->height) {
        /* An area past the image is a rotated or enlarged image's: LVGL
         * transforms the area it is given as if it were the whole image,
         * so it gets the whole image, once. */
        if(decoded_area->y1 != LV_COORD_MIN) return LV_RESULT_INVALID;
        first = 0;
        lines = s->height;
        x = 0;
        count = s->width;
    }
    else {
        first = decoded_area->y1 == LV_COORD_MIN ? (uint32_t)full_area->y1 : (uint32_t)decoded_area->y2 + 1;
        if(first > (uint32_t)full_area->y2) return LV_RESULT_INVALID;
        last = (uint32_t)full_area->y2;
        x = (uint32_t)full_area->x1;
        count = (uint32_t)(full_area->x2 - full_area->x1) + 1;
        room = LV_ZEF_AREA_BYTES / (count * DECODED_BYTES);
        lines = last - first + 1;
        if(room == 0) room = 1;
        if(lines > room) lines = room;
    }

    if(s->area == NULL || lv_draw_buf_reshape(s->area, DECODED_FORMAT, count, lines, LV_STRIDE_AUTO) == NULL) {
        if(s->area != NULL) lv_draw_buf_destroy(s->area);
        s->area = lv_draw_buf_create(count, lines, DECODED_FORMAT, LV_STRIDE_AUTO);
        if(s->area == NULL) return LV_RESULT_INVALID;
    }
    result = seek_line(s, first);
    for(n = 0; n < lines && result == ZEFDEC_OK; ++n) {
        result = decode_line(s, s->area->data + n * s->area->header.stride, x, count);
    }
    if(result != ZEFDEC_OK) {
        fail(s, result);
        return LV_RESULT_INVALID;
    }
    decoded_area->x1 = (int32_t)x;
    decoded_area->x2 = (int32_t)(x + count - 1);
    decoded_area->y1 = (int32_t)first;
    decoded_area->y2 = (int32_t)(first + lines - 1);
    dsc->decoded = s->area;
    return LV_RESULT_OK;
}

static void close_cb(lv_image_decoder_t * decoder, lv_image_decoder_dsc_t * dsc)
{
    session_t * s = dsc->user_data;
    LV_UNUSED(decoder);
    if(s == NULL) return;
    keep_place(s);
    free_session(s);
    dsc->user_data = NULL;
}

/* The canvas of a layer format, where the device decoder has one compiled
 * in. LVGL's 32-bit pixels are bytes blue, green, red, alpha, which are
 * the decoder's native 0xAARRGGBB only on a little-endian core. */
static int canvas_format(lv_color_format_t cf, zefdec_canvas_format * format)
{
    switch(cf) {
        case LV_COLOR_FORMAT_RGB565:
            *format = ZEFDEC_CANVAS_RGB565;
            return 1;
#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB565_SWAPPED
        case LV_COLOR_FORMAT_RGB565_SWAPPED:
            *format = ZEFDEC_CANVAS_RGB565_SWAPPED;
            return 1;
#endif
#if (ZEFDEC_CANVASES & ZEFDEC_WITH_XRGB8888) && !LV_BIG_ENDIAN_SYSTEM
        case LV_COLOR_FORMAT_XRGB8888:
            *format = ZEFDEC_CANVAS_XRGB8888;
            return 1;
#endif
#if ZEFDEC_CANVASES & ZEFDEC_WITH_RGB888
        case LV_COLOR_FORMAT_RGB888:
            *format = ZEFDEC_CANVAS_BGR888;
            return 1;
#endif
#if (ZEFDEC_CANVASES & ZEFDEC_WITH_ARGB8888) && !LV_BIG_ENDIAN_SYSTEM
        case LV_COLOR_FORMAT_ARGB8888:
            *format = ZEFDEC_CANVAS_ARGB8888;
            return 1;
#endif
        default:
            return 0;
    }
}

/* Whether the device decoder draws the task as LVGL would: what it cannot
 * do (transforms, masks, other blend modes, recolour mixed with the
 * image's colours) stays LVGL's, and so does everything with the image
 * cache on, which then holds the decoded image. */
static int drawn_directly(const lv_draw_task_t * t)
{
    const lv_draw_image_dsc_t * d = t->draw_dsc;
    zefdec_canvas_format format;
    if(t->type != LV_DRAW_TASK_TYPE_IMAGE || source_at(d->src) == NULL) return 0;
    if(d->rotation != 0 || d->scale_x != LV_SCALE_NONE || d->scale_y != LV_SCALE_NONE || d->skew_x != 0 ||
       d->skew_y != 0 || d->tile || d->clip_radius != 0 || d->bitmap_mask_src != NULL || d->colorkey != NULL ||
       d->blend_mode != LV_BLEND_MODE_NORMAL) {
        return 0;
    }
    if(d->recolor_opa > LV_OPA_MIN && d->recolor_opa != LV_OPA_COVER) return 0;
#if LV_DRAW_TRANSFORM_USE_MATRIX
    if(!lv_matrix_is_identity(&t->matrix)) return 0;
#endif
    if(lv_image_cache_is_enabled()) return 0;
    return canvas_format(t->target_layer->color_format, &format);
}

/* The slot of this place of the image, or the oldest one, made its own. */
static draw_slot_t * draw_slot(const lv_zef_source_t * source, int32_t top)
{
    draw_slot_t * slot;
    uint32_t n;
    for(n = 0; n < LV_ZEF_DRAW_SLOTS; ++n) {
        slot = &draw_slots[n];
        if(slot->archive == source->archive && slot->generation == source->archive->generation &&
           slot->position == source->position && slot->top == top) {
            return slot;
        }
    }
    slot = &draw_slots[next_draw_slot++ % LV_ZEF_DRAW_SLOTS];
    slot->archive = source->archive;
    slot->generation = source->archive->generation;
    slot->position = source->position;
    slot->top = top;
    slot->drawn = source->archive->archive;
    return slot;
}

static void draw_direct(lv_draw_task_t * t)
{
    const lv_draw_image_dsc_t * d = t->draw_dsc;
    const lv_layer_t * layer = t->target_layer;
    const lv_zef_source_t * source = source_at(d->src);
    zefdec_draw_options options = ZEFDEC_DRAW_OPTIONS_DEFAULT;
    zefdec_canvas canvas;
    lv_area_t clip;
    int result;
    if(!lv_area_intersect(&clip, &t->clip_area, &t->area) || !lv_area_intersect(&clip, &clip, &layer->buf_area)) {
        return;
    }
    canvas_format(layer->color_format, &canvas.format);
    canvas.pixels = lv_draw_buf_goto_xy(layer->draw_buf, (uint32_t)(clip.x1 - layer->buf_area.x1),
                                        (uint32_t)(clip.y1 - layer->buf_area.y1));
    canvas.width = (uint32_t)lv_area_get_width(&clip);
    canvas.height = (uint32_t)lv_area_get_height(&clip);
    canvas.stride = layer->draw_buf->header.stride;
    /* LVGL blends an opacity from LV_OPA_MAX up as full. */
    options.opacity = d->opa >= LV_OPA_MAX ? LV_OPA_COVER : d->opa;
    if(d->recolor_opa == LV_OPA_COVER) {
        options.recolour = 1;
        options.colour = (uint32_t)d->recolor.red << 16 | (uint32_t)d->recolor.green << 8 | d->recolor.blue;
    }
    result = lv_zef_archive_open(source->archive);
    if(result != ZEFDEC_OK) return;
    result = zefdec_draw_with(&draw_slot(source, t->area.y1)->drawn, source->position, &canvas,
                              t->area.x1 - clip.x1, t->area.y1 - clip.y1, &options);
#if LV_USE_DRAW_SW
    /* A buffer the decoder cannot take as a canvas (a display buffer not
     * aligned for its pixels) is left to LVGL, before anything is drawn. */
    if(result == ZEFDEC_E_CANVAS) {
        lv_draw_sw_image(t, d, &t->area);
        return;
    }
#endif
    if(result != ZEFDEC_OK) {
        LV_LOG_WARN("lv_zef: image %u cannot be decoded: %s", (unsigned)source->position, zefdec_strerror(result));
    }
}

static int32_t evaluate_cb(lv_draw_unit_t * draw_unit, lv_draw_task_t * t)
{
    LV_UNUSED(draw_unit);
    if(t->preference_score > LV_ZEF_DRAW_PREFERENCE && drawn_directly(t)) {
        t->preference_score = LV_ZEF_DRAW_PREFERENCE;
        t->preferred_draw_unit_id = LV_ZEF_DRAW_UNIT_ID;
    }
    return 0;
}

/* Draws in the caller's thread, one task at a time, as LVGL's software
 * renderer does without an OS. */
static int32_t dispatch_cb(lv_draw_unit_t * draw_unit, lv_layer_t * layer)
{
    lv_draw_task_t * t = NULL;
    do {
        t = lv_draw_get_next_available_task(layer, t, LV_ZEF_DRAW_UNIT_ID);
    } while(t != NULL && t->preferred_draw_unit_id != LV_ZEF_DRAW_UNIT_ID);
    if(t == NULL || lv_draw_layer_alloc_buf(layer) == NULL) return LV_DRAW_UNIT_IDLE;
    t->state = LV_DRAW_TASK_STATE_IN_PROGRESS;
    t->draw_unit = draw_unit;
    draw_direct(t);
    t->state = LV_DRAW_TASK_STATE_FINISHED;
    lv_draw_dispatch_request();
    return 1;
}

/* LVGL frees its draw units only all together in lv_deinit: this one is
 * taken out of its list by hand. */
static void remove_unit(void)
{
    lv_draw_global_info_t * info = &LV_GLOBAL_DEFAULT()->draw_info;
    lv_draw_unit_t ** at = &info->unit_head;
    while(*at != NULL && *at != unit) at = &(*at)->next;
    if(*at == NULL) return;
    *at = unit->next;
    --info->unit_cnt;
    lv_free(unit);
}

lv_image_decoder_t * lv_zef_init(void)
{
    if(registered != NULL) return registered;
    registered = lv_image_decoder_create();
    if(registered == NULL) return NULL;
    lv_image_decoder_set_info_cb(registered, info_cb);
    lv_image_decoder_set_open_cb(registered, open_cb);
    lv_image_decoder_set_get_area_cb(registered, get_area_cb);
    lv_image_decoder_set_close_cb(registered, close_cb);
    registered->name = "zef";
    /* Without it every image takes the decoder's path. */
    unit = lv_draw_create_unit(sizeof(lv_draw_unit_t));
    if(unit != NULL) {
        unit->name = "zef";
        unit->evaluate_cb = evaluate_cb;
        unit->dispatch_cb = dispatch_cb;
    }
    return registered;
}

void lv_zef_deinit(void)
{
    if(registered == NULL) return;
    if(unit != NULL) remove_unit();
    unit = NULL;
    lv_image_decoder_delete(registered);
    registered = NULL;
    lv_memzero(slots, sizeof(slots));
    lv_memzero(draw_slots, sizeof(draw_slots));
}

const lv_image_dsc_t * lv_zef_image_init(lv_zef_image_t * image, lv_zef_archive_t * archive, uint32_t position)
{
    zefdec_image_info info;
    lv_memzero(image, sizeof(*image));
    image->source.magic = LV_ZEF_SOURCE_MAGIC;
    image->source.archive = archive;
    image->source.position = position;
    image->dsc.header.magic = LV_IMAGE_HEADER_MAGIC;
    image->dsc.header.cf = LV_COLOR_FORMAT_RAW_ALPHA;
    image->dsc.data_size = sizeof(lv_zef_source_t);
    image->dsc.data = (const uint8_t *)&image->source;
    if(lv_zef_archive_open(archive) == ZEFDEC_OK &&
       zefdec_info(&archive->archive, position, &info) == ZEFDEC_OK) {
        image->dsc.header.w = info.width;
        image->dsc.header.h = info.height;
    }
    return &image->dsc;
}
