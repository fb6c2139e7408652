// Exceptions: thrown as pointers (`throw new CInvalidArgException`) and
// caught as `CException*`; the catcher calls Delete().
#pragma once

#include <windows.h>

class CException {
public:
    explicit CException(BOOL autoDelete = TRUE) : m_bAutoDelete(autoDelete) {}
    virtual ~CException() {}
    // Frees an exception that was thrown with `new`.
    void Delete() {
        if (m_bAutoDelete) delete this;
    }
    // Copies a text that says what went wrong into the caller's buffer.
    virtual BOOL GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext = nullptr) const;

protected:
    BOOL m_bAutoDelete;
};

class CInvalidArgException : public CException {
public:
    BOOL GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext = nullptr) const override;
};

class CMemoryException : public CException {
public:
    BOOL GetErrorMessage(LPWSTR text, UINT maxChars, PUINT helpContext = nullptr) const override;
};
