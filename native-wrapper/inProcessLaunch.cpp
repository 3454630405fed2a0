// The in-process launch of JavaCommandLine: the runtime's JVM library is
// loaded, a JVM is created on the main thread through the Invocation API
// with the launch's JVM options and class path, and the main class's static
// main runs there; a "-splash" option is shown through the runtime's splash
// library meanwhile.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "javaCommandLine.h"
#include "vlkConfig.h"

void (*splash_close)() = nullptr;

namespace {

const char create_jvm_entry[] = "JNI_CreateJavaVM";
const char classpath_option_prefix[] = "-Djava.class.path=";
// What java's own launcher tells the JVM about the launch, for jps, jcmd
// and the tool itself.
const char command_option_prefix[] = "-Dsun.java.command=";
const char launcher_option[] = "-Dsun.java.launcher=SUN_STANDARD";
// Options that java takes from the environment before its command line's.
const char java_options_variable[] = "JDK_JAVA_OPTIONS";
const char splash_option_prefix[] = "-splash";
const char main_method[] = "main";
const char string_class[] = "java/lang/String";

std::string below_jre(const std::string& jre_dir, const char* relative)
{
    return jre_dir + os::facts.path_separator + relative;
}

// A symbol's address as the function type it is called through.
template <typename Function>
void find_entry(Function& entry, void* address)
{
    entry = reinterpret_cast<Function>(address);
}

}  // namespace

int JavaCommandLine::run_in_process()
{
    // The text first: building it merges the heap sizes into jvm_options.
    std::string text = build_command_text();
    if (!show_command(text))
        return 0;
    // The JVM writes to the same descriptors without our buffers.
    std::fflush(out_stream);
    std::fflush(err_stream);

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create_jvm(&vm, &env) != 0)
        return -1;
    check_java_exception(env);
    if (call_main(env) != 0) {
        // The failed lookup's exception; the splash screen stays and the
        // JVM is left as it is, since the launcher ends right here.
        check_java_exception(env);
        return -1;
    }
    if (splash_close != nullptr)
        splash_close();
    // An exception that escaped main fails the run as it does under java.
    jthrowable escaped = env->ExceptionOccurred();
    if (escaped != nullptr)
        env->DeleteLocalRef(escaped);
    // As java does, the main thread leaves the JVM with its exception still
    // pending: the JVM hands it to the uncaught-exception handler, the
    // tool's own if it set one.
    vm->DetachCurrentThread();
    // Returns once every non-daemon thread of the tool has ended.
    vm->DestroyJavaVM();
    return escaped != nullptr ? 1 : 0;
}

int JavaCommandLine::create_jvm(JavaVM** vm, JNIEnv** env)
{
    const std::string jre_dir = get_jre_dir();
    const std::string jvm_path = below_jre(jre_dir, os::facts.jvm_lib_below_jre);

    // As java does: the environment's options first, so that the command
    // line's own win, and a note that says where they came from.
    std::vector<std::string> kept;
    const char* java_options = std::getenv(java_options_variable);
    if (java_options != nullptr && java_options[0] != '\0') {
        std::fprintf(err_stream, "NOTE: Picked up %s: %s\n", java_options_variable, java_options);
        std::fflush(err_stream);
        kept = java_options_words(java_options);
    }
    std::vector<std::string> splash_images;
    for (const std::string& word : jvm_options) {
        if (word.compare(0, std::strlen(splash_option_prefix), splash_option_prefix) != 0) {
            kept.push_back(word);
            continue;
        }
        // A splash option is the launcher's; one without an image shows nothing.
        std::string image = splash_image_name(word);
        if (image.empty())
            continue;
        if (os::facts.splash_lib_needs_jvm_lib)
            splash_images.push_back(image);
        else
            show_splash_screen(image, jre_dir);
    }
    std::string command = command_option_prefix + program;
    for (const std::string& arg : arg_array) {
        command += ' ';
        command += arg;
    }
    kept.push_back(std::move(command));
    kept.push_back(launcher_option);
    kept.push_back(classpath_option_prefix + get_classpath());

    std::vector<JavaVMOption> options(kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        options[i].optionString = &kept[i][0];
        options[i].extraInfo = nullptr;
    }
    JavaVMInitArgs init_args;
    init_args.version = JNI_VERSION_1_6;
    init_args.nOptions = static_cast<jint>(options.size());
    init_args.options = options.data();
    init_args.ignoreUnrecognized = JNI_FALSE;

    os::Library jvm_library = load_library(jvm_path, jre_dir);
    if (!jvm_library.loaded()) {
        std::fprintf(err_stream, "Cannot load library: '%s'\n%s\n", jvm_path.c_str(), jvm_library.error().c_str());
        return -1;
    }
    find_entry(invocation.CreateJavaVM, find_symbol(jvm_library, create_jvm_entry));
    if (invocation.CreateJavaVM == nullptr) {
        std::fprintf(err_stream, "Cannot load symbol/function: '%s'\nThe library '%s' does not export it.\n",
                     create_jvm_entry, jvm_path.c_str());
        return -1;
    }
    for (const std::string& image : splash_images)
        show_splash_screen(image, jre_dir);
    if (invocation.CreateJavaVM(vm, reinterpret_cast<void**>(env), &init_args) != JNI_OK) {
        std::fprintf(out_stream, "\nJavaCommandLine: Unable to Launch JVM with JNI\n");
        return -1;
    }
    // The running JVM holds its library by its own references.
    free_library(jvm_library);
    return 0;
}

int JavaCommandLine::call_main(JNIEnv* env)
{
    std::string class_name = program;
    for (char& c : class_name) {
        if (c == '.')
            c = '/';
    }
    jclass main_class = env->FindClass(class_name.c_str());
    if (main_class == nullptr) {
        std::fprintf(out_stream, "JavaCommandLine: JNI Class Not Found Error: %s\n", class_name.c_str());
        return -1;
    }
    jclass string_type = env->FindClass(string_class);
    jobjectArray args = env->NewObjectArray(num_of_args, string_type, nullptr);
    for (int i = 0; i < num_of_args; ++i) {
        // NewString takes UTF-16; NewStringUTF would read the bytes as
        // modified UTF-8, which a command line does not hold.
        std::u16string text = os::decode_arg(arg_array[i]);
        jstring arg = env->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
        env->SetObjectArrayElement(args, i, arg);
        env->DeleteLocalRef(arg);
    }

    std::string signature = std::string("([L") + string_class + ";)V";
    if (jmethodID main = env->GetStaticMethodID(main_class, main_method, signature.c_str())) {
        env->CallStaticVoidMethod(main_class, main, args);
        return 0;
    }
    env->ExceptionClear();
    if (jmethodID main = env->GetStaticMethodID(main_class, main_method, "()V")) {
        env->CallStaticVoidMethod(main_class, main);
        return 0;
    }
    std::fprintf(out_stream, "JavaCommandLine: JNI Incorrect Method ID: %s\n", main_method);
    return -1;
}

bool JavaCommandLine::check_java_exception(JNIEnv* env)
{
    jthrowable exception = env->ExceptionOccurred();
    if (exception == nullptr)
        return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    env->DeleteLocalRef(exception);
    return true;
}

std::string JavaCommandLine::splash_image_name(const std::string& option)
{
    std::size_t colon = option.find(':');
    if (colon == std::string::npos)
        return std::string();
    std::size_t start = option.find_first_not_of('"', colon + 1);
    if (start == std::string::npos)
        return std::string();
    return option.substr(start, option.find('"', start) - start);
}

void JavaCommandLine::show_splash_screen(const std::string& image, std::string jre_dir)
{
    const std::string splash_path = below_jre(jre_dir, os::facts.splash_lib_below_jre);
    os::Library splash_library = load_library(splash_path, jre_dir);
    if (!splash_library.loaded()) {
        std::fprintf(out_stream, "Could not load splash screen: %s\n", image.c_str());
        return;
    }
    find_entry(invocation.SplashInit, find_symbol(splash_library, "SplashInit"));
    find_entry(invocation.SplashLoadFile, find_symbol(splash_library, "SplashLoadFile"));
    find_entry(invocation.SplashSetFileJarName, find_symbol(splash_library, "SplashSetFileJarName"));
    find_entry(splash_close, find_symbol(splash_library, "SplashClose"));
    // The splash screen lives as long as the process: its library stays.
    splash_library.keep_loaded();
    if (invocation.SplashInit == nullptr || invocation.SplashLoadFile == nullptr ||
        invocation.SplashSetFileJarName == nullptr || splash_close == nullptr) {
        splash_close = nullptr;
        return;
    }
    invocation.SplashInit();
    invocation.SplashLoadFile(image.c_str());
    // The runtime reports this name to the tool as the image's location, so
    // it is the image's; there is no jar.
    invocation.SplashSetFileJarName(image.c_str(), nullptr);
}

os::Library JavaCommandLine::load_library(std::string path, const std::string& jre_dir)
{
    os::Library library;
    library.load(path, below_jre(jre_dir, os::facts.runtime_libs_below_jre));
    return library;
}

void* JavaCommandLine::find_symbol(const os::Library& library, std::string name)
{
    return library.find(name.c_str());
}

void JavaCommandLine::free_library(os::Library& library)
{
    library.unload();
}
