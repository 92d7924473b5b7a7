#pragma once
// The render-mode wizard's question flow (filled in by the wizard work).
namespace dlscope {}
