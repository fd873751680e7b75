// What every parameter page works on: the running setup call's job, whose
// settings copy the pages edit, and the preview that re-renders after each
// change. The setup dialog provides both as a PageContext and hands it down,
// through the parameter window and its sheet, to every page; a page knows
// nothing of the dialog beyond this.
#pragma once

#include "effect_settings.h"
#include "property_sheet.h"
#include "render_job.h"

namespace granulix {

class PageContext {
public:
    // The job of the setup call that the context serves.
    virtual RenderJob& setupJob() = 0;
    // Re-renders and redraws the preview.
    virtual void RefreshPreview() = 0;

protected:
    ~PageContext() = default;
};

// A page of the parameter sheet, bound to its context from construction.
class ParameterPage : public fw::PropertyPage {
protected:
    ParameterPage(UINT templateId, PageContext& context)
        : PropertyPage(templateId), context_(context) {}

    // The working settings; null when the job has none.
    EffectSettings* pageSettings() const { return context_.setupJob().settings; }
    const RenderJob& setupJob() const { return context_.setupJob(); }
    void refreshPreview() { context_.RefreshPreview(); }

private:
    PageContext& context_;
};

}  // namespace granulix
