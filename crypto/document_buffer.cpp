#include "document_buffer.h"

#include "aes256.h"
#include "code_page_units.h"
#include "crc32.h"
#include "secure_memory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace tavro {
namespace {

constexpr std::size_t kBlockSize = 16;
constexpr std::size_t kMaxFiller = kBlockSize - 1;

// From this size on a buffer is mapped apart. The allocator would serve it
// from a heap once its mapping threshold has grown (it grows as large blocks
// are freed), and a thread's heap keeps its freed top: every save would
// leave a document's size behind in the worker that made it.
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

// Left unset: untouched pages cost nothing.
std::uint8_t* Allocate(std::size_t size)
{
    if (size < kMappedFrom)
        return new std::uint8_t[size];
    void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        throw std::bad_alloc();
    return static_cast<std::uint8_t*>(pages);
}

} // namespace

void DocumentBuffer::Release::operator()(std::uint8_t* data) const noexcept
{
    if (size < kMappedFrom)
        delete[] data;
    else
        ::munmap(data, size);
}

DocumentBuffer::DocumentBuffer(std::size_t maxUnits)
    : m_data(Allocate(kDocumentHeaderSize + 2 * maxUnits + kMaxFiller),
             Release{kDocumentHeaderSize + 2 * maxUnits + kMaxFiller}),
      m_capacity(kDocumentHeaderSize + 2 * maxUnits + kMaxFiller), m_size(kDocumentHeaderSize)
{
    std::fill_n(m_data.get(), kDocumentHeaderSize, std::uint8_t{0});
}

DocumentBuffer::~DocumentBuffer() { Wipe(); }

DocumentBuffer::DocumentBuffer(DocumentBuffer&& other) noexcept { *this = std::move(other); }

DocumentBuffer& DocumentBuffer::operator=(DocumentBuffer&& other) noexcept
{
    if (this != &other) {
        Wipe();
        m_data = std::move(other.m_data);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_size = std::exchange(other.m_size, 0);
        m_sealed = other.m_sealed;
        m_lossy = std::move(other.m_lossy);
    }
    return *this;
}

void DocumentBuffer::Wipe() noexcept
{
    if (m_data)
        SecureWipe(m_data.get(), m_size);
}

bool DocumentBuffer::Append(std::u16string_view text, LineBreakStyle style)
{
    if (m_sealed || text.size() > (m_capacity - kMaxFiller - m_size) / 2)
        return false;
    m_size += EncodeUnits(text, style, m_data.get() + m_size, m_lossy);
    return true;
}

bool DocumentBuffer::AppendLineBreak()
{
    if (m_sealed || m_size + 1 > m_capacity - kMaxFiller)
        return false;
    m_data[m_size++] = 0x0A;
    return true;
}

std::u32string DocumentBuffer::LossyCharacters() const { return m_lossy.Characters(); }

void DocumentBuffer::Seal(const DocumentKey& key, const FillerSource& filler)
{
    if (m_sealed)
        return;
    const std::size_t length = plaintextSize();
    const std::size_t padCount = PadCountFor(length);
    std::uint8_t* body = m_data.get() + kDocumentHeaderSize;
    if (padCount > 0)
        filler(body + length, padCount);
    const std::size_t bodySize = length + padCount;
    m_size = kDocumentHeaderSize + bodySize;

    Aes256Context context;
    Aes256Init(context, key.data());
    Aes256EncryptBlocks(context, body, bodySize / kBlockSize);
    Aes256Wipe(context);

    PutDocumentHeader(m_data.get(), padCount, Crc32(body, bodySize));
    m_sealed = true;
}

} // namespace tavro
