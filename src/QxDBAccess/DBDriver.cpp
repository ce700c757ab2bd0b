#include "DBDriver.h"

#include "DBCore.h"

CDBDriver::CDBDriver() : m_tagNotifyFn(nullptr), m_drvId(0), m_pDBCore(nullptr) {}

CDBDriver::~CDBDriver() {
    void* fn = m_tagNotifyFn.load();
    if (fn != nullptr && m_pfnReleaseNotify != nullptr) m_pfnReleaseNotify(fn);
}

bool CDBDriver::SetTagNotifyFn(void* fn, void (*pfnRelease)(void*)) {
    void* none = nullptr;
    if (fn == nullptr || !m_tagNotifyFn.compare_exchange_strong(none, fn)) return false;
    m_pfnReleaseNotify = pfnRelease;
    return true;
}

void CDBDriver::SetTagCount(DWORD dwCount) {
    std::lock_guard<std::mutex> lock(m_tagLock);
    m_tags.resize(dwCount);
    for (DWORD i = 0; i < dwCount; i++)
        m_tags[i].id = static_cast<WORD>(i);
    m_nTags = dwCount;
}

bool CDBDriver::CopyTagValue(WORD pos, XVariant& value) const {
    std::lock_guard<std::mutex> lock(m_tagLock);
    if (pos >= m_tags.size()) return false;
    value = m_tags[pos].value;
    return true;
}

bool CDBDriver::CopyTag(WORD pos, STag& tag) const {
    std::lock_guard<std::mutex> lock(m_tagLock);
    if (pos >= m_tags.size()) return false;
    tag.value = m_tags[pos].value;
    tag.strTag = m_tags[pos].strTag;
    tag.id = m_tags[pos].id;
    tag.bSubscribe = m_tags[pos].bSubscribe;
    return true;
}

bool CDBDriver::PutTagValue(WORD pos, const XVariant& value) {
    std::lock_guard<std::mutex> lock(m_tagLock);
    if (pos >= m_tags.size()) return false;
    m_tags[pos].value = value;
    return true;
}
