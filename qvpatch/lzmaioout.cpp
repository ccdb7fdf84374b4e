#include "lzmaioout.h"

#include "bytesink.h"
#include "bytesource.h"
#include "enginelog_p.h"

#include <lzma.h>

#include <string>

namespace qvpatch {

namespace {

constexpr uint8_t kLargestProperty = 40;
constexpr uint32_t kSmallestDictionary = 4096;

uint32_t dictionarySize(uint8_t property)
{
    if (property == kLargestProperty)
        return 0xFFFFFFFFu;
    return (2u | (property & 1u)) << (property / 2 + 11);
}

// The decoder writes straight into the output, so matches can never reach
// further back than the block itself: a dictionary larger than the block
// would only cost memory, which a hostile property byte could make huge.
uint32_t decoderDictionary(uint8_t property, uint32_t unpackedSize)
{
    uint32_t size = dictionarySize(property);
    if (size > unpackedSize)
        size = unpackedSize;
    return size < kSmallestDictionary ? kSmallestDictionary : size;
}

void logDecodeFailure(int code)
{
    logError("Error uncompressing data " + std::to_string(code));
}

} // namespace

bool readLzma2Block(ByteSource *source, ByteSink *output)
{
    uint8_t property = 0;
    if (!source->readBytes(&property, 1)) {
        logError("Error read LZMA2 properties");
        return false;
    }
    uint32_t unpackedSize = 0;
    if (!source->readU32(&unpackedSize)) {
        logError("Error read LZMA2 unpack size");
        return false;
    }
    if (!output->reserve(output->length() + unpackedSize)) {
        logError("unable to allocate sink space");
        return false;
    }
    if (property > kLargestProperty) {
        logDecodeFailure(LZMA_OPTIONS_ERROR);
        return false;
    }

    lzma_options_lzma options{};
    options.dict_size = decoderDictionary(property, unpackedSize);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    // liblzma refuses null buffers even when they are empty.
    uint8_t emptyBuffer = 0;
    const uint8_t *in = source->next() ? source->next() : &emptyBuffer;
    uint8_t *out = output->data() ? output->data() + output->length() : &emptyBuffer;
    std::size_t inPosition = 0;
    std::size_t outPosition = 0;
    // One-shot raw decoding succeeds only when the end marker was read; output
    // that fills up before it, or input that ends before it, is an error.
    const lzma_ret result = lzma_raw_buffer_decode(
        filters, nullptr, in, &inPosition, source->remaining(), out, &outPosition, unpackedSize);
    if (result != LZMA_OK || outPosition != unpackedSize) {
        logDecodeFailure(result == LZMA_OK ? 0 : static_cast<int>(result));
        return false;
    }
    source->skip(inPosition);
    output->commitReserved(unpackedSize);
    return true;
}

bool writeLzma2Block(const uint8_t *bytes, std::size_t n, ByteSink *output,
                     const Lzma2EncoderSettings &settings)
{
    if (n > 0xFFFFFFFFu) {
        logError("LZMA2 block input too large");
        return false;
    }
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, 9) != 0) {
        logError("could not set up LZMA2 encoder");
        return false;
    }
    // A dictionary larger than the input finds no further matches; fitting it
    // to the input compresses as well with far less memory (level 9 would set
    // up 64 MiB even for a few bytes) and tells the decoder it needs less.
    if (settings.niceLength != 0)
        options.nice_len = settings.niceLength;
    while (options.dict_size / 2 >= n && options.dict_size / 2 >= kSmallestDictionary)
        options.dict_size /= 2;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint32_t propertySize = 0;
    uint8_t property = 0;
    if (lzma_properties_size(&propertySize, filters) != LZMA_OK || propertySize != 1 ||
        lzma_properties_encode(filters, &property) != LZMA_OK) {
        logError("could not set up LZMA2 encoder");
        return false;
    }

    // Incompressible data grows by a few bytes per 64 KiB chunk.
    const std::size_t bound = n + n / 4096 + 64;
    if (!output->writeBytes(&property, 1) || !output->writeSize(n) ||
        !output->reserve(output->length() + bound)) {
        logError("unable to allocate sink space");
        return false;
    }

    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_encoder(&stream, filters) != LZMA_OK) {
        logError("could not set up LZMA2 encoder");
        return false;
    }
    constexpr std::size_t kStep = 1 << 20;
    stream.next_out = output->data() + output->length();
    stream.avail_out = bound;
    std::size_t fed = 0;
    lzma_ret result = LZMA_OK;
    while (result == LZMA_OK) {
        if (stream.avail_in == 0 && fed < n) {
            const std::size_t step = n - fed < kStep ? n - fed : kStep;
            stream.next_in = bytes + fed;
            stream.avail_in = step;
            fed += step;
            if (settings.progress)
                settings.progress(fed - step, n);
        }
        result = lzma_code(&stream, fed == n ? LZMA_FINISH : LZMA_RUN);
    }
    const std::size_t produced = bound - stream.avail_out;
    lzma_end(&stream);
    if (result != LZMA_STREAM_END) {
        logError("Error compressing data " + std::to_string(static_cast<int>(result)));
        return false;
    }
    if (settings.progress)
        settings.progress(n, n);
    output->commitReserved(produced);
    return true;
}

} // namespace qvpatch
