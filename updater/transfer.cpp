#include "updater/transfer.h"

#include "platform/replacefile.h"
#include "updater/signature.h"

#include <QNetworkReply>

namespace {

// Bytes taken from the reply and written at a time; with the reply's own
// read buffer, what a download holds in memory whatever the size of the
// file. Writes of 64 to 128 KiB filled the page cache fastest here: 4 GiB
// took 1.3 s in blocks of 128 KiB and 3 to 7 s in blocks of 1 MiB, once the
// kernel began to throttle the writer.
constexpr int kBlockSize = 128 * 1024;

// The directory a body's file goes to: the installation itself, which
// exists and lies on the file system of nearly every destination, so that
// the file can take its name there without a second copy.
const char *const kIncomingDirectory = ".";

} // namespace

BodyTransfer::BodyTransfer(Storage storage, const QString &hint)
    : m_storage(storage)
    , m_hint(hint)
{
    restart();
}

BodyTransfer::~BodyTransfer() = default;

void BodyTransfer::addSha256()
{
    m_sha256 = std::make_unique<signature::Sha256>();
}

void BodyTransfer::restart()
{
    m_received = 0;
    m_pending = 0;
    m_overLimit = false;
    m_memory.clear();
    if (m_sha256)
        m_sha256 = std::make_unique<signature::Sha256>();
    m_sha256Hex.clear();
    if (m_storage == Storage::File && (!m_file || m_file->size() > 0))
        m_file = std::make_unique<platform::IncomingFile>(QString::fromLatin1(kIncomingDirectory), m_hint);
}

bool BodyTransfer::take(QNetworkReply *reply)
{
    if (m_overLimit)
        return false;
    if (m_block.isEmpty())
        m_block.resize(kBlockSize);
    for (;;) {
        char *const free = m_block.data() + m_pending;
        const qint64 got = reply->read(free, m_block.size() - m_pending);
        if (got <= 0)
            return true;
        if (m_limit >= 0 && m_received + got > m_limit) {
            m_overLimit = true;
            return false;
        }
        m_received += got;
        if (m_sha256)
            m_sha256->add(free, got);
        if (m_storage == Storage::Memory) {
            m_memory.append(free, int(got));
            continue;
        }
        // Whole blocks go to the file, whatever pieces the network brought:
        // fewer writes, and the same ones for the same body every time.
        m_pending += int(got);
        if (m_pending == m_block.size())
            storePending();
    }
}

void BodyTransfer::storePending()
{
    if (m_pending > 0)
        m_file->append(m_block.constData(), m_pending);
    m_pending = 0;
}

platform::IncomingFile &BodyTransfer::file()
{
    storePending();
    return *m_file;
}

QString BodyTransfer::sha256()
{
    if (m_sha256 && m_sha256Hex.isNull())
        m_sha256Hex = QString::fromLatin1(m_sha256->hex());
    return m_sha256Hex;
}
