/* load_plug PLUGIN: loads the plugin, calls its plug_format(4700) and prints the text. */
#include <dlfcn.h>
#include <stdio.h>

int main(int argc, char** argv) {
  void* plugin;
  const char* (*format)(double);
  if (argc != 2 || (plugin = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL)) == NULL) {
    fprintf(stderr, "load_plug: %s\n", argc == 2 ? dlerror() : "usage: load_plug PLUGIN");
    return 1;
  }
  *(void**)&format = dlsym(plugin, "plug_format");
  if (format == NULL) {
    fprintf(stderr, "load_plug: %s\n", dlerror());
    return 1;
  }
  printf("%s\n", format(4700));
  return dlclose(plugin);
}
