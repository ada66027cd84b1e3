// A library that carries the plug-in's file name but not its entry point.
extern "C" __attribute__((visibility("default"))) int Inp32(short) {
  return 0;
}
