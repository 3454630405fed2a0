// The in-process launch of JavaCommandLine, as java's own launcher does it:
// the runtime's JVM library is loaded, and on a thread of the launcher's
// making, with the stack java would give it, a JVM is created through the
// Invocation API with the launch's JVM options and class path, and the main
// class's main runs as the runtime's own java would choose and call it
// (java's helper class in the runtime decides); a "-splash" option is shown
// through the runtime's splash library meanwhile.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "javaCommandLine.h"
#include "launcherOptions.h"
#include "message.h"
#include "os/files.h"
#include "os/platform.h"
#include "os/text.h"
#include "os/thread.h"
#include "vlkConfig.h"

void (*splash_close)() = nullptr;

namespace {

const char create_jvm_entry[] = "JNI_CreateJavaVM";
const char default_args_entry[] = "JNI_GetDefaultJavaVMInitArgs";
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
const char helper_class[] = "sun/launcher/LauncherHelper";
const char check_and_load_signature[] = "(ZILjava/lang/String;)Ljava/lang/Class;";
const char main_with_args_signature[] = "([Ljava/lang/String;)V";
// java's launch mode for a main class named on its command line.
const jint launch_mode_class = 1;
// Below the runtime: its version, which decides java's rules.
const char release_file[] = "release";
const std::size_t release_read_limit = 65536;

// What JNI_GetDefaultJavaVMInitArgs fills for version 1.1: HotSpot still
// answers its default stack size there, which java asks for.
struct JDK1_1InitArgs {
    jint version;
    char** properties;
    jint checkSource;
    jint nativeStackSize;
    jint javaStackSize;
    jint minHeapSize;
    jint maxHeapSize;
    jint verifyMode;
    char* classpath;
    jint(JNICALL* vfprintf)(FILE* fp, const char* format, va_list args);
    void(JNICALL* exit)(jint code);
    void(JNICALL* abort)();
    jint enableClassGC;
    jint enableVerboseGC;
    jint disableAsyncGC;
    jint verbose;
    jboolean debugging;
    jint debugPort;
};

// Java strings of the tool's arguments, made as java makes them: where the
// platform leaves the decoding to the JVM, by the runtime's own helper.
class ArgumentStrings {
public:
    explicit ArgumentStrings(JNIEnv* env) : env_(env) {}

    jstring make(const std::string& arg)
    {
        std::u16string text;
        // NewString takes UTF-16; NewStringUTF would read the bytes as
        // modified UTF-8, which a command line does not hold.
        if (os::decode_arg(arg, text))
            return env_->NewString(reinterpret_cast<const jchar*>(text.data()), static_cast<jsize>(text.size()));
        if (make_ == nullptr) {
            helper_ = env_->FindClass(helper_class);
            make_ = helper_ != nullptr ? env_->GetStaticMethodID(helper_, "makePlatformString", "(Z[B)Ljava/lang/String;")
                                       : nullptr;
            if (make_ == nullptr)
                return nullptr;
        }
        const jsize size = static_cast<jsize>(arg.size());
        jbyteArray bytes = env_->NewByteArray(size);
        env_->SetByteArrayRegion(bytes, 0, size, reinterpret_cast<const jbyte*>(arg.data()));
        jstring made = static_cast<jstring>(env_->CallStaticObjectMethod(helper_, make_, JNI_TRUE, bytes));
        // A failure (out of memory) stays pending for main's call to meet.
        env_->ExceptionCheck();
        env_->DeleteLocalRef(bytes);
        return made;
    }

private:
    JNIEnv* env_;
    jclass helper_ = nullptr;
    jmethodID make_ = nullptr;
};

std::string below_jre(const std::string& jre_dir, const char* relative)
{
    return jre_dir + os::facts.path_separator + relative;
}

// The runtime's major version from its release file; 0 when unreadable.
int runtime_version(const std::string& jre_dir)
{
    std::string release;
    os::Failure failure;
    if (!os::read_file_start(below_jre(jre_dir, release_file), release_read_limit, release, failure))
        return 0;
    return release_major_version(release);
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

    const std::string jre_dir = get_jre_dir();
    JvmLaunchOptions launch;
    launch.java_version = runtime_version(jre_dir);
    if (!prepare_jvm_options(launch))
        return 1;  // refused as java refuses it
    const bool splash = !launch.splash_image.empty();
    if (splash && !os::facts.splash_lib_needs_jvm_lib)
        show_splash_screen(launch.splash_image, jre_dir);
    const std::string jvm_path = below_jre(jre_dir, os::facts.jvm_lib_below_jre);
    os::Library jvm_library = load_library(jvm_path, jre_dir);
    if (!jvm_library.loaded()) {
        print_message(err_stream, "Cannot load library: '%s'\n%s\n", jvm_path.c_str(),
                      os::error_text(jvm_library.failure()).c_str());
        return -1;
    }
    find_entry(invocation.CreateJavaVM, find_symbol(jvm_library, create_jvm_entry));
    find_entry(invocation.GetDefaultJavaVMInitArgs, find_symbol(jvm_library, default_args_entry));
    if (invocation.CreateJavaVM == nullptr) {
        print_message(err_stream, "Cannot load symbol/function: '%s'\nThe library '%s' does not export it.\n",
                      create_jvm_entry, jvm_path.c_str());
        return -1;
    }
    if (splash && os::facts.splash_lib_needs_jvm_lib)
        show_splash_screen(launch.splash_image, jre_dir);
    return os::run_on_new_thread(main_thread_stack_size(launch),
                                 [&] { return run_jvm(launch, jvm_library); });
}

bool JavaCommandLine::prepare_jvm_options(JvmLaunchOptions& launch)
{
    // As java does: the environment's options first, so that the command
    // line's own win, and a note that says where they came from.
    std::vector<std::string> words;
    std::string error;
    const char* java_options = std::getenv(java_options_variable);
    if (java_options != nullptr) {
        print_message(err_stream, "NOTE: Picked up %s: %s\n", java_options_variable, java_options);
        if (!read_java_options_variable(java_options_variable, java_options, launch.java_version, words, error)) {
            print_message(err_stream, "%s\n", error.c_str());
            return false;
        }
    }
    // A splash option of the JVM options is the launcher's own form; as
    // java's, it comes after the environment's, and the last one decides.
    bool profile_splash = false;
    std::string profile_image;
    for (const std::string& word : jvm_options) {
        if (word.compare(0, std::strlen(splash_option_prefix), splash_option_prefix) != 0) {
            words.push_back(word);
            continue;
        }
        profile_splash = true;
        profile_image = splash_image_name(word);
    }
    if (!translate_launcher_options(words, launch, error)) {
        print_message(err_stream, "%s\n", error.c_str());
        return false;
    }
    if (profile_splash)
        launch.splash_image = profile_image;
    for (const std::string& warning : launch.warnings)
        print_message(err_stream, "%s\n", warning.c_str());

    std::string command = command_option_prefix + program;
    for (const std::string& arg : arg_array) {
        command += ' ';
        command += arg;
    }
    launch.options.push_back(std::move(command));
    launch.options.push_back(launcher_option);
    launch.options.push_back(classpath_option_prefix + get_classpath());
    return true;
}

std::uint64_t JavaCommandLine::main_thread_stack_size(const JvmLaunchOptions& launch)
{
    if (launch.stack_size != 0 || invocation.GetDefaultJavaVMInitArgs == nullptr)
        return launch.stack_size;
    // The JVM's default, as java asks for it; 0 leaves it to the system.
    JDK1_1InitArgs defaults = {};
    defaults.version = JNI_VERSION_1_1;
    invocation.GetDefaultJavaVMInitArgs(&defaults);
    return defaults.javaStackSize > 0 ? static_cast<std::uint64_t>(defaults.javaStackSize) : 0;
}

int JavaCommandLine::run_jvm(const JvmLaunchOptions& launch, os::Library& jvm_library)
{
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create_jvm(launch, &vm, &env) != 0)
        return -1;
    // The running JVM holds its library by its own references.
    free_library(jvm_library);
    check_java_exception(env);
    // java's own steps may end the launch before main, with their status.
    int status = 0;
    if (!run_launcher_steps(env, launch, status)) {
        // main is called from this frame, which holds little, and not from
        // find_main's: the launcher's frames below main then take no more of
        // the thread's stack than java's own, and the tool gets as deep.
        MainCall main;
        if (find_main(env, main)) {
            jvalue args;
            args.l = main.args;
            if (main.instance != nullptr)
                env->CallVoidMethodA(main.instance, main.method, &args);
            else
                env->CallStaticVoidMethodA(main.main_class, main.method, &args);
            if (splash_close != nullptr)
                splash_close();
        }
        // An exception that escaped main, or that java's own steps to it
        // met, fails the run as it does under java.
        jthrowable escaped = env->ExceptionOccurred();
        if (escaped != nullptr)
            env->DeleteLocalRef(escaped);
        status = escaped != nullptr ? 1 : 0;
    }
    // As java does, main's thread leaves the JVM with its exception still
    // pending: the JVM hands it to the uncaught-exception handler, the
    // tool's own if it set one.
    vm->DetachCurrentThread();
    // Returns once every non-daemon thread of the tool has ended.
    vm->DestroyJavaVM();
    return status;
}

int JavaCommandLine::create_jvm(const JvmLaunchOptions& launch, JavaVM** vm, JNIEnv** env)
{
    std::vector<std::string> kept = launch.options;
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
    if (invocation.CreateJavaVM(vm, reinterpret_cast<void**>(env), &init_args) != JNI_OK) {
        print_message(out_stream, "\nJavaCommandLine: Unable to Launch JVM with JNI\n");
        return -1;
    }
    return 0;
}

bool JavaCommandLine::run_launcher_steps(JNIEnv* env, const JvmLaunchOptions& launch, int& status)
{
    // In java's order; a step that throws ends the launch with 1.
    status = 1;
    if (!launch.show_settings.empty()) {
        jstring flag = env->NewStringUTF(launch.show_settings.c_str());
        if (!call_runtime(env, helper_class, "showSettings", "(ZLjava/lang/String;JJJ)V", JNI_TRUE, flag,
                          static_cast<jlong>(launch.initial_heap_size), static_cast<jlong>(launch.max_heap_size),
                          static_cast<jlong>(launch.stack_size)))
            return true;
        env->DeleteLocalRef(flag);
    }
    if (launch.show_resolved_modules && !call_runtime(env, helper_class, "showResolvedModules", "()V"))
        return true;
    if (launch.list_modules) {
        status = call_runtime(env, helper_class, "listModules", "()V") ? 0 : 1;
        return true;
    }
    if (!launch.describe_module.empty()) {
        jstring name = env->NewStringUTF(launch.describe_module.c_str());
        status = call_runtime(env, helper_class, "describeModule", "(Ljava/lang/String;)V", name) ? 0 : 1;
        return true;
    }
    status = 0;
    if (launch.show_version != 0 &&
        !call_runtime(env, "java/lang/VersionProps", "print", "(Z)V", launch.show_version == 1 ? JNI_TRUE : JNI_FALSE))
        return true;
    // The JVM checked the modules as it started.
    return launch.validate_modules;
}

bool JavaCommandLine::call_runtime(JNIEnv* env, const char* class_name, const char* method, const char* signature, ...)
{
    jclass type = env->FindClass(class_name);
    jmethodID id = type != nullptr ? env->GetStaticMethodID(type, method, signature) : nullptr;
    if (id != nullptr) {
        va_list args;
        va_start(args, signature);
        env->CallStaticVoidMethodV(type, id, args);
        va_end(args);
    }
    return !check_java_exception(env);
}

bool JavaCommandLine::find_main(JNIEnv* env, MainCall& main)
{
    // java's own check of the main class and its main, with java's messages:
    // a class or a main it cannot have ends the process with status 1.
    jclass helper = env->FindClass(helper_class);
    jmethodID check = helper != nullptr ? env->GetStaticMethodID(helper, "checkAndLoadMain", check_and_load_signature)
                                        : nullptr;
    if (check == nullptr)
        return false;
    ArgumentStrings strings(env);
    jstring name = strings.make(program);
    main.main_class = static_cast<jclass>(env->CallStaticObjectMethod(helper, check, JNI_TRUE, launch_mode_class, name));
    if (env->ExceptionCheck())
        return false;
    env->DeleteLocalRef(name);
    // The arguments are made before main is looked at, as java makes them.
    jclass string_type = env->FindClass(string_class);
    jobjectArray args = env->NewObjectArray(num_of_args, string_type, nullptr);
    for (int i = 0; i < num_of_args && args != nullptr; ++i) {
        jstring arg = strings.make(arg_array[i]);
        env->SetObjectArrayElement(args, i, arg);
        env->DeleteLocalRef(arg);
    }
    if (env->ExceptionCheck())
        return false;
    // Which main the check chose: a runtime whose java knows only the
    // static main(String[]) has no word on it.
    const bool is_static = helper_flag(env, helper, "isStaticMain", true);
    const bool without_args = helper_flag(env, helper, "noArgMain", false);
    const char* signature = without_args ? "()V" : main_with_args_signature;
    main.args = without_args ? nullptr : args;
    if (is_static) {
        main.method = env->GetStaticMethodID(main.main_class, main_method, signature);
        return main.method != nullptr;
    }
    // An instance main runs on an object made by the class's constructor
    // without parameters, whose exception fails the run as main's would.
    jmethodID constructor = env->GetMethodID(main.main_class, "<init>", "()V");
    main.instance = constructor != nullptr ? env->NewObject(main.main_class, constructor) : nullptr;
    main.method = main.instance != nullptr ? env->GetMethodID(main.main_class, main_method, signature) : nullptr;
    return main.method != nullptr;
}

bool JavaCommandLine::helper_flag(JNIEnv* env, jclass helper, const char* name, bool otherwise)
{
    jfieldID field = env->GetStaticFieldID(helper, name, "Z");
    if (field == nullptr) {
        env->ExceptionClear();
        return otherwise;
    }
    return env->GetStaticBooleanField(helper, field) == JNI_TRUE;
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
        print_message(out_stream, "Could not load splash screen: %s\n", image.c_str());
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
