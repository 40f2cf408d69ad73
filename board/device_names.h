#pragma once

// Names of the board's media and control devices. Constant texts: nothing
// here is configurable.

inline const char* GetVoiceDevName() { return "/dev/voice"; }
inline const char* GetMixerDevName() { return "/dev/mixer"; }
inline const char* GetDTMFDevName() { return "/dev/dtmf"; }
inline const char* GetDSPDevName() { return "/dev/dsp"; }
inline const char* GetRtpDevName() { return "/dev/rtp"; }
inline const char* GetRtpExtDevName() { return "/dev/rtp_ext"; }
inline const char* GetModemDevName() { return "/dev/mctl"; }
inline const char* GetMaintenance() { return "/dev/maintenance"; }
inline const char* GetSpiTdmDevName() { return "/dev/spi_tdm"; }
