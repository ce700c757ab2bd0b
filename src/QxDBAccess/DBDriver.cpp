#include "DBDriver.h"

void CDBDriver::SetTagCount(size_t nCount) {
    std::lock_guard<std::mutex> lock(m_tagLock);
    m_tags.resize(nCount);
}

size_t CDBDriver::GetTagCount() const {
    std::lock_guard<std::mutex> lock(m_tagLock);
    return m_tags.size();
}

bool CDBDriver::GetTagType(WORD pos, VARTYPE& vt) const {
    std::lock_guard<std::mutex> lock(m_tagLock);
    if (pos >= m_tags.size()) return false;
    vt = m_tags[pos].value.vt;
    return true;
}

bool CDBDriver::OnDBNotify(WORD tagId, const XVariant& value) {
    std::lock_guard<std::mutex> lock(m_tagLock);
    if (tagId >= m_tags.size()) return false;
    m_tags[tagId].value = value;
    return true;
}

bool CDBDriver::CopyTagValue(WORD pos, XVariant& value) const {
    std::lock_guard<std::mutex> lock(m_tagLock);
    if (pos >= m_tags.size()) return false;
    value = m_tags[pos].value;
    return true;
}
