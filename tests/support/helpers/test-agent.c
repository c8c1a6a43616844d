/* A scripted polkit authentication agent for the tests, registered for one process.
 *
 *   quorlen-test-agent PID ANSWERS_FILE
 *
 * At each authentication request it reads the first word of ANSWERS_FILE: "password"
 * answers with the password in QUORLEN_TEST_PASSWORD, "wrong" with a wrong one, "cancel"
 * dismisses the request. It prints "ready" once registered and "request ACTION_ID" for
 * each request; it never prints what it types. */
#define POLKIT_AGENT_I_KNOW_API_IS_SUBJECT_TO_CHANGE
#include <polkitagent/polkitagent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    PolkitAgentListener parent;
} TestAgent;
typedef struct {
    PolkitAgentListenerClass parent_class;
} TestAgentClass;

static GType test_agent_get_type(void);
G_DEFINE_TYPE(TestAgent, test_agent, POLKIT_AGENT_TYPE_LISTENER)

static const char *answers_file;

static char *next_answer(void) {
    char *contents = NULL;
    if (!g_file_get_contents(answers_file, &contents, NULL, NULL)) return g_strdup("cancel");
    g_strstrip(contents);
    char *space = strpbrk(contents, " \t\n");
    if (space) *space = '\0';
    return contents;
}

typedef struct {
    GTask *task;
    PolkitAgentSession *session;
    char *answer;
} Request;

static void request_free(Request *request) {
    g_clear_object(&request->session);
    g_object_unref(request->task);
    g_free(request->answer);
    g_free(request);
}

static void on_request(PolkitAgentSession *session, const char *prompt, gboolean echo_on,
                       gpointer data) {
    (void)prompt;
    (void)echo_on;
    Request *request = data;
    const char *password = getenv("QUORLEN_TEST_PASSWORD");
    if (strcmp(request->answer, "password") == 0 && password)
        polkit_agent_session_response(session, password);
    else
        polkit_agent_session_response(session, "not-the-password");
}

static void on_completed(PolkitAgentSession *session, gboolean gained, gpointer data) {
    (void)session;
    (void)gained;
    Request *request = data;
    /* A failed password is reported by polkit itself as not authorized. */
    g_task_return_boolean(request->task, TRUE);
    request_free(request);
}

static void test_agent_initiate(PolkitAgentListener *listener, const gchar *action_id,
                                const gchar *message, const gchar *icon_name,
                                PolkitDetails *details, const gchar *cookie, GList *identities,
                                GCancellable *cancellable, GAsyncReadyCallback callback,
                                gpointer user_data) {
    (void)message;
    (void)icon_name;
    (void)details;
    printf("request %s\n", action_id);
    fflush(stdout);
    Request *request = g_new0(Request, 1);
    request->task = g_task_new(listener, cancellable, callback, user_data);
    request->answer = next_answer();
    if (strcmp(request->answer, "cancel") == 0 || identities == NULL) {
        g_task_return_new_error(request->task, POLKIT_ERROR, POLKIT_ERROR_CANCELLED,
                                "dismissed by the test");
        request_free(request);
        return;
    }
    request->session = polkit_agent_session_new(POLKIT_IDENTITY(identities->data), cookie);
    g_signal_connect(request->session, "request", G_CALLBACK(on_request), request);
    g_signal_connect(request->session, "completed", G_CALLBACK(on_completed), request);
    polkit_agent_session_initiate(request->session);
}

static gboolean test_agent_initiate_finish(PolkitAgentListener *listener, GAsyncResult *result,
                                           GError **error) {
    (void)listener;
    return g_task_propagate_boolean(G_TASK(result), error);
}

static void test_agent_init(TestAgent *agent) { (void)agent; }

static void test_agent_class_init(TestAgentClass *klass) {
    PolkitAgentListenerClass *listener_class = POLKIT_AGENT_LISTENER_CLASS(klass);
    listener_class->initiate_authentication = test_agent_initiate;
    listener_class->initiate_authentication_finish = test_agent_initiate_finish;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s PID ANSWERS_FILE\n", argv[0]);
        return 2;
    }
    answers_file = argv[2];
    gint pid = atoi(argv[1]);
    GError *error = NULL;
    PolkitSubject *subject = polkit_unix_process_new_for_owner(pid, 0, -1);
    PolkitAgentListener *listener = g_object_new(test_agent_get_type(), NULL);
    gpointer handle = polkit_agent_listener_register(
        listener, POLKIT_AGENT_REGISTER_FLAGS_NONE, subject,
        "/com/quorlen/safe/TestAgent", NULL, &error);
    if (handle == NULL) {
        fprintf(stderr, "cannot register: %s\n", error ? error->message : "?");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    GMainLoop *loop = g_main_loop_new(NULL, FALSE);
    g_main_loop_run(loop);
    return 0;
}
