#pragma once

namespace qm::test {

// Answers the next modal compressor configuration dialog from the event loop: sets its
// quality and key-frame fields, then accepts or rejects it. When qualityEnabled is given, it
// receives whether the quality field could be changed.
void AnswerConfigDialog(int quality, int keyFrames, bool accept, bool* qualityEnabled = nullptr);

}  // namespace qm::test
