#pragma once

// The mixer library's exported interface: one output mixer and one input mixer per process,
// the recording source, volumes, mutes and levels. Flat C functions with 32-bit arguments
// and results, linked by the program (libfaderlib.so). Every function runs on the caller's
// thread (the window's), catches everything and returns its documented result.
//
// Results: 0 success; -1 no device selected on that side or a failed call; -2 a control
// that does not exist (or, for sources, an index out of range); -3 a failed read or write
// of a level. Strings are caller buffers of at least 64 bytes.

#include <stdint.h>

#include <string>

#define FADERLIB_API extern "C" __attribute__((visibility("default")))

// Devices, mixers and the recording source.
FADERLIB_API uint32_t SetCallbackWindow(uint32_t window);
FADERLIB_API int32_t GetNumberOfOutputDevices();
FADERLIB_API int32_t GetOutputDeviceDescription(int32_t device, char* description);
FADERLIB_API int32_t SelectOutputDevice(int32_t device);
FADERLIB_API int32_t DeSelectOutputDevice();
FADERLIB_API int32_t GetNumberOfInputDevices();
FADERLIB_API int32_t GetInputDeviceDescription(int32_t device, char* description);
FADERLIB_API int32_t SelectInputDevice(int32_t device);
FADERLIB_API int32_t DeSelectInputDevice();
FADERLIB_API int32_t GetNumberOfInputSources();
FADERLIB_API int32_t GetInputSourceDescription(int32_t source, char* description);
FADERLIB_API int32_t GetMicrophoneSourceIndex();
FADERLIB_API int32_t GetOutputMixSourceIndex();
FADERLIB_API int32_t SelectInputSource(int32_t source);
FADERLIB_API int32_t IsCurrentInputSourceSelected(int32_t source);
FADERLIB_API int32_t IsMicSourceAvailableOnMixerDest();
FADERLIB_API int32_t GetMixMuxSetting(uint32_t mixer, uint32_t control, int32_t item);
FADERLIB_API void GetVolumeIDs(int32_t* waveVolume, int32_t* recordVolume, int32_t* selector,
                               int32_t* sourceVolume);

// Raw volumes: (channels 1 or 2, two values left and right).
FADERLIB_API int32_t GetCurrentOutputVolSetting(int32_t channels, uint32_t* values);
FADERLIB_API int32_t SetCurrentOutputVolSetting(int32_t channels, const uint32_t* values);
FADERLIB_API int32_t GetCurrentMidiOutputVolSetting(int32_t channels, uint32_t* values);
FADERLIB_API int32_t SetCurrentMidiOutputVolSetting(int32_t channels, const uint32_t* values);
FADERLIB_API int32_t GetMicOutputVolSetting(int32_t channels, uint32_t* values);
FADERLIB_API int32_t SetMicOutputVolSetting(int32_t channels, const uint32_t* values);
FADERLIB_API int32_t GetCurrentMasterOutputVolSetting(int32_t channels, uint32_t* values);
FADERLIB_API int32_t SetCurrentMasterOutputVolSetting(int32_t channels, const uint32_t* values);
FADERLIB_API int32_t GetCurrentInputVolSetting(int32_t channels, uint32_t* values);
FADERLIB_API int32_t SetCurrentInputVolSetting(int32_t channels, const uint32_t* values);

// Levels on a 0..99 scale.
FADERLIB_API int32_t GetCurrentOutputLevel();
FADERLIB_API int32_t SetCurrentOutputLevel(int32_t level);
FADERLIB_API int32_t GetCurrentInputLevel();
FADERLIB_API int32_t SetCurrentInputLevel(int32_t level);

// Switches: getters give 1 on, 0 off, -1 missing or unreadable; setters 0 or -1.
FADERLIB_API int32_t GetWaveOutMuteSetting();
FADERLIB_API int32_t SetWaveOutMuteSetting(int32_t on);
FADERLIB_API int32_t GetMidiOutMuteSetting();
FADERLIB_API int32_t SetMidiOutMuteSetting(int32_t on);
FADERLIB_API int32_t GetMicOutMuteSetting();
FADERLIB_API int32_t SetMicOutMuteSetting(int32_t on);
FADERLIB_API int32_t GetMicOutSelectSetting();
FADERLIB_API int32_t SetMicOutSelectSetting(int32_t on);
FADERLIB_API int32_t GetMasterOutMuteSetting();
FADERLIB_API int32_t SetMasterOutMuteSetting(int32_t on);
FADERLIB_API int32_t MuteOutput();
FADERLIB_API int32_t UnmuteOutput();

namespace faderlib {
// Tests: forgets every selection, as at the process's start.
void resetForTest();
// The settings file the MIDI device name is read from.
std::string settingsPath();
// Level arithmetic over a control's range.
int32_t valueToLevel(uint32_t value, uint32_t minimum, uint32_t maximum);
uint32_t levelToValue(int32_t level, uint32_t minimum, uint32_t maximum);
}  // namespace faderlib
