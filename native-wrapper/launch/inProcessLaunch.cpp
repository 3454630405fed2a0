#include "launch/inProcessLaunch.h"

#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launch/launcherOptions.h"
#include "message.h"
#include "os/files.h"
#include "os/library.h"
#include "os/platform.h"
#include "os/text.h"
#include "os/thread.h"
#include "vlkConfig.h"

namespace {

// The close entry of the splash screen that is up, for the whole process;
// null when no splash screen was shown.
void (*splash_close)() = nullptr;

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

// A symbol's address as the function type it is called through.
template <typename Function>
void find_entry(Function& entry, void* address)
{
    entry = reinterpret_cast<Function>(address);
}

// The entry points of the Java runtime's libraries that the launch calls,
// found by name in the loaded libraries; null until found. Every call into
// those libraries goes through this table (and, once the JVM exists,
// through the JNIEnv and JavaVM function tables), so a stand-in runtime sees
// the same calls in the same order; the one exception is the splash
// screen's close entry, which is kept process-wide in splash_close.
struct InvocationFunctions {
    jint(JNICALL* CreateJavaVM)(JavaVM** vm, void** env, void* args) = nullptr;
    // Optional: a runtime without it gets the system's default stack.
    jint(JNICALL* GetDefaultJavaVMInitArgs)(void* args) = nullptr;
    void (*SplashInit)() = nullptr;
    int (*SplashLoadFile)(const char* file_name) = nullptr;
    void (*SplashSetFileJarName)(const char* file_name, const char* jar_name) = nullptr;
};

// The tool's main as java calls it: static or on an instance of the main
// class, with the arguments or without (args null).
struct MainCall {
    jclass main_class = nullptr;
    jobject instance = nullptr;  // null: a static main
    jmethodID method = nullptr;
    jobjectArray args = nullptr;
};

// One in-process launch of a plan, step by step as java's launcher takes
// them.
class InProcessLaunch {
public:
    InProcessLaunch(const LaunchPlan& plan, const std::vector<std::string>& added_options, std::FILE* out,
                    std::FILE* err)
        : plan_(plan), added_options_(added_options), out_stream(out), err_stream(err)
    {
    }

    // The whole launch; the status run_in_process gives.
    int run();

private:
    // Prints java's note of JDK_JAVA_OPTIONS and turns its words and the
    // JVM options into `launch` as java's launcher does, ending with the
    // launch's own properties and the class path; the last splash option
    // (the JVM options' own form, or java's in JDK_JAVA_OPTIONS) names the
    // image. False after java's message where java refuses the options.
    bool prepare_jvm_options(JvmLaunchOptions& launch);
    // The stack java gives main: the last -Xss, else the JVM's default
    // (0, the system's, when the JVM library does not tell).
    std::uint64_t main_thread_stack_size(const JvmLaunchOptions& launch);
    // On the thread of main: creates the JVM, runs java's own steps and
    // main, and destroys the JVM; returns the status of run.
    int run_jvm(const JvmLaunchOptions& launch, os::Library& jvm_library);
    // Creates the JVM with the options of `launch`. Returns 0 and fills `vm`
    // and `env`, or -1 after a message.
    int create_jvm(const JvmLaunchOptions& launch, JavaVM** vm, JNIEnv** env);
    // What java's launcher does between creating the JVM and loading the
    // main class (settings, module listings, the version line). True when
    // the launch ends there, with `status`.
    bool run_launcher_steps(JNIEnv* env, const JvmLaunchOptions& launch, int& status);
    // Calls a static void method of the runtime's classes with the variadic
    // arguments; false when it (or the lookup) threw, described.
    bool call_runtime(JNIEnv* env, const char* class_name, const char* method, const char* signature, ...);
    // Loads the main class and chooses its main as the runtime's java does,
    // through java's own helper (whose messages end the process with 1),
    // and makes the tool's arguments. False with a Java exception pending
    // (a constructor that threw, a runtime without the helper).
    bool find_main(JNIEnv* env, MainCall& main);
    // The boolean static field `name` of java's helper, or `otherwise` where
    // the runtime's helper lacks it.
    static bool helper_flag(JNIEnv* env, jclass helper, const char* name, bool otherwise);
    // Describes and clears a pending Java exception; true if there was one.
    static bool check_java_exception(JNIEnv* env);
    // Shows `image` through the runtime's splash library and sets
    // splash_close. A library that cannot be loaded is reported on the out
    // stream; one lacking an entry shows nothing. The library stays loaded.
    void show_splash_screen(const std::string& image, const std::string& jre_dir);
    // The library at `path`, with the runtime's own library directory
    // searched for its imports. Not loaded (its error() says why) on failure.
    static os::Library load_library(const std::string& path, const std::string& jre_dir);
    // The entry `name` of `library`, or null.
    static void* find_symbol(const os::Library& library, const std::string& name);
    // Gives up the launcher's reference on `library`.
    static void free_library(os::Library& library);

    const LaunchPlan& plan_;
    const std::vector<std::string>& added_options_;
    std::FILE* out_stream;
    std::FILE* err_stream;
    InvocationFunctions invocation;
};

int InProcessLaunch::run()
{
    const std::string& jre_dir = plan_.jre_dir;
    JvmLaunchOptions launch;
    launch.java_version = runtime_version(jre_dir);
    if (!prepare_jvm_options(launch))
        return 1;  // refused as java refuses it
    // Before either library of the runtime, as java loads it.
    os::load_runtime_c_libraries(below_jre(jre_dir, os::facts.runtime_libs_below_jre));
    const bool splash = !launch.splash_image.empty();
    if (splash && !os::facts.splash_lib_needs_jvm_lib)
        show_splash_screen(launch.splash_image, jre_dir);
    const std::string jvm_path = jvm_library_path(jre_dir);
    os::Library jvm_library = load_library(jvm_path, jre_dir);
    if (!jvm_library.loaded()) {
        print_err(err_stream, msg::cannot_load_library, jvm_path.c_str(), os::error_text(jvm_library.failure()).c_str());
        return -1;
    }
    find_entry(invocation.CreateJavaVM, find_symbol(jvm_library, create_jvm_entry));
    find_entry(invocation.GetDefaultJavaVMInitArgs, find_symbol(jvm_library, default_args_entry));
    if (invocation.CreateJavaVM == nullptr) {
        print_err(err_stream, msg::cannot_load_symbol,
                      create_jvm_entry, jvm_path.c_str());
        return -1;
    }
    if (splash && os::facts.splash_lib_needs_jvm_lib)
        show_splash_screen(launch.splash_image, jre_dir);
    return os::run_on_new_thread(main_thread_stack_size(launch),
                                 [&] { return run_jvm(launch, jvm_library); });
}

bool InProcessLaunch::prepare_jvm_options(JvmLaunchOptions& launch)
{
    // As java does: the environment's options first, so that the command
    // line's own win, and a note that says where they came from.
    std::vector<std::string> words;
    std::string error;
    const char* java_options = std::getenv(java_options_variable);
    if (java_options != nullptr) {
        print_err(err_stream, msg::picked_up_options, java_options_variable, java_options);
        if (!read_java_options_variable(java_options_variable, java_options, launch.java_version, words, error)) {
            print_err(err_stream, msg::line, error.c_str());
            return false;
        }
    }
    // A splash option of the JVM options is the launcher's own form; as
    // java's, it comes after the environment's, and the last one decides.
    bool profile_splash = false;
    std::string profile_image;
    for (const std::vector<std::string>* options : {&plan_.jvm_options, &added_options_}) {
        for (const std::string& word : *options) {
            if (word.compare(0, std::strlen(splash_option_prefix), splash_option_prefix) != 0) {
                words.push_back(word);
                continue;
            }
            profile_splash = true;
            profile_image = splash_image_name(word);
        }
    }
    if (!translate_launcher_options(words, launch, error)) {
        print_err(err_stream, msg::line, error.c_str());
        return false;
    }
    if (profile_splash)
        launch.splash_image = profile_image;
    for (const std::string& warning : launch.warnings)
        print_err(err_stream, msg::line, warning.c_str());

    std::string command = command_option_prefix + plan_.main_class;
    for (const std::string& arg : plan_.tool_args) {
        command += ' ';
        command += arg;
    }
    launch.options.push_back(std::move(command));
    launch.options.push_back(launcher_option);
    launch.options.push_back(classpath_option_prefix + joined_classpath(plan_.classpath));
    return true;
}

std::uint64_t InProcessLaunch::main_thread_stack_size(const JvmLaunchOptions& launch)
{
    if (launch.stack_size != 0 || invocation.GetDefaultJavaVMInitArgs == nullptr)
        return launch.stack_size;
    // The JVM's default, as java asks for it; 0 leaves it to the system.
    JDK1_1InitArgs defaults = {};
    defaults.version = JNI_VERSION_1_1;
    invocation.GetDefaultJavaVMInitArgs(&defaults);
    return defaults.javaStackSize > 0 ? static_cast<std::uint64_t>(defaults.javaStackSize) : 0;
}

int InProcessLaunch::run_jvm(const JvmLaunchOptions& launch, os::Library& jvm_library)
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

int InProcessLaunch::create_jvm(const JvmLaunchOptions& launch, JavaVM** vm, JNIEnv** env)
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
        print_out(out_stream, msg::jvm_not_created);
        return -1;
    }
    return 0;
}

bool InProcessLaunch::run_launcher_steps(JNIEnv* env, const JvmLaunchOptions& launch, int& status)
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

bool InProcessLaunch::call_runtime(JNIEnv* env, const char* class_name, const char* method, const char* signature, ...)
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

bool InProcessLaunch::find_main(JNIEnv* env, MainCall& main)
{
    // java's own check of the main class and its main, with java's messages:
    // a class or a main it cannot have ends the process with status 1.
    jclass helper = env->FindClass(helper_class);
    jmethodID check = helper != nullptr ? env->GetStaticMethodID(helper, "checkAndLoadMain", check_and_load_signature)
                                        : nullptr;
    if (check == nullptr)
        return false;
    ArgumentStrings strings(env);
    jstring name = strings.make(plan_.main_class);
    main.main_class = static_cast<jclass>(env->CallStaticObjectMethod(helper, check, JNI_TRUE, launch_mode_class, name));
    if (env->ExceptionCheck())
        return false;
    env->DeleteLocalRef(name);
    // The arguments are made before main is looked at, as java makes them.
    jclass string_type = env->FindClass(string_class);
    const jsize num_of_args = static_cast<jsize>(plan_.tool_args.size());
    jobjectArray args = env->NewObjectArray(num_of_args, string_type, nullptr);
    for (jsize i = 0; i < num_of_args && args != nullptr; ++i) {
        jstring arg = strings.make(plan_.tool_args[i]);
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

bool InProcessLaunch::helper_flag(JNIEnv* env, jclass helper, const char* name, bool otherwise)
{
    jfieldID field = env->GetStaticFieldID(helper, name, "Z");
    if (field == nullptr) {
        env->ExceptionClear();
        return otherwise;
    }
    return env->GetStaticBooleanField(helper, field) == JNI_TRUE;
}

bool InProcessLaunch::check_java_exception(JNIEnv* env)
{
    jthrowable exception = env->ExceptionOccurred();
    if (exception == nullptr)
        return false;
    env->ExceptionDescribe();
    env->ExceptionClear();
    env->DeleteLocalRef(exception);
    return true;
}

void InProcessLaunch::show_splash_screen(const std::string& image, const std::string& jre_dir)
{
    const std::string splash_path = below_jre(jre_dir, os::facts.splash_lib_below_jre);
    os::Library splash_library = load_library(splash_path, jre_dir);
    if (!splash_library.loaded()) {
        print_out(out_stream, msg::no_splash_screen, image.c_str());
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

os::Library InProcessLaunch::load_library(const std::string& path, const std::string& jre_dir)
{
    os::Library library;
    library.load(path, below_jre(jre_dir, os::facts.runtime_libs_below_jre));
    return library;
}

void* InProcessLaunch::find_symbol(const os::Library& library, const std::string& name)
{
    return library.find(name.c_str());
}

void InProcessLaunch::free_library(os::Library& library)
{
    library.unload();
}

}  // namespace

int run_in_process(const LaunchPlan& plan, const std::vector<std::string>& added_options, std::FILE* out,
                   std::FILE* err)
{
    return InProcessLaunch(plan, added_options, out, err).run();
}

std::string jvm_library_path(const std::string& jre_dir)
{
    return below_jre(jre_dir, os::facts.jvm_lib_below_jre);
}

std::string splash_image_name(const std::string& option)
{
    std::size_t colon = option.find(':');
    if (colon == std::string::npos)
        return std::string();
    std::size_t start = option.find_first_not_of('"', colon + 1);
    if (start == std::string::npos)
        return std::string();
    return option.substr(start, option.find('"', start) - start);
}
