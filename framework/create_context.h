#pragma once

class CDocument;
class CSingleDocTemplate;
class CView;

// What a frame needs while it is being created to make its view and join it to the document.
struct CCreateContext {
    CDocument* m_pCurrentDoc = nullptr;
    CView* (*m_pNewView)() = nullptr;
    CSingleDocTemplate* m_pNewDocTemplate = nullptr;
};
